#pragma once
// A window on the audio the players hand to their output, for tests that check
// what would be heard. Called on the output's thread; clear it (or end the
// players) before the observer goes.
namespace clipwren::player {

class OutputTap {
public:
    virtual ~OutputTap() = default;
    // Interleaved stereo float frames at the output's rate; silence filling a gap is not passed.
    virtual void onAudio(const float* samples, int frames, int rate) = 0;
};

void setOutputTap(OutputTap* tap);
OutputTap* outputTap();

}  // namespace clipwren::player
