#pragma once
// A gain for copied MP3 frames without decoding them: a Layer III decoder scales each
// granule's coefficients, channel by channel, by 2^(global_gain / 4) (give or take a
// constant), so adding one to that 8-bit side-info field multiplies the decoded sound by
// 2^(1/4), 1.5051 dB, and changes nothing else in it.
#include "components/soundeditor/lossless/Mp3Frames.h"

#include <cstdint>

namespace clipwren::soundeditor::mp3 {

constexpr double kGlobalGainStepDb = 1.5051499783199;  // 20 log10(2^(1/4))

// The whole number of steps nearest to gainDb whose gain is not above maxGainDb (the
// most the true peak allows).
int globalGainSteps(double gainDb, double maxGainDb);

// Adds `steps` to the global gain of every granule and channel of the frame (`size` bytes
// from its header) that codes anything, and renews its CRC where it has one. A granule
// that codes no bits stays as it is: its sound is silence whatever its gain. False, and
// the frame untouched, where a gain would leave its 0..255 range.
bool addGlobalGain(uint8_t* frame, int size, const FrameHeader& header, int steps);

}  // namespace clipwren::soundeditor::mp3
