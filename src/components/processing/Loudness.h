#pragma once
// Loudness of a piece as EBU R128 / ITU-R BS.1770 measure it (libebur128), and the gain
// that brings it to a target without letting its true peak pass a ceiling.
#include <cstdint>
#include <memory>
#include <optional>

namespace clipwren::processing {

// Streaming services aim for this loudness; phones play their own sounds at about it.
constexpr double kDefaultTargetLufs = -14.0;
// Targets a phone's sounds can sensibly be brought to.
constexpr double kLowestTargetLufs = -40.0;
constexpr double kHighestTargetLufs = -5.0;
// Headroom for the encoder and the phone's converter, as EBU R128 recommends for lossy formats.
constexpr double kTruePeakCeilingDbtp = -1.0;
// A peak-limited gain stays this far under the ceiling, so that the saved file keeps to it:
// true-peak meters differ in their oversampling (FFmpeg's ebur128 filter read 0.1 dB more
// than libebur128 on white noise), and a lossy encoder's output peaks higher than its
// input (white noise at the ceiling: Vorbis q4 0.3 dB, MP3 128 kbit/s and AAC 0.1 dB).
constexpr double kTruePeakMarginDb = 0.5;

struct Loudness {
    double integratedLufs = 0;  // -inf for silence
    double truePeakDbtp = 0;    // -inf for silence
};

class LoudnessMeter {
public:
    LoudnessMeter(int rate, int channels);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // Interleaved frames of the meter's channels.
    void add(const float* samples, int64_t frames);
    Loudness result() const;

private:
    struct State;  // libebur128's, released with the meter
    std::unique_ptr<State> state_;
    int channels_;
};

struct NormalizationGain {
    double gainDb = 0;
    // Lowered so that the true peak stays under the ceiling: the target is not reached.
    bool peakLimited = false;
};

// The gain that brings `measured` to `targetLufs`, lowered where the true peak would pass
// `ceilingDbtp` (by kTruePeakMarginDb). Silence gets none.
NormalizationGain normalizationGain(const Loudness& measured, double targetLufs,
                                    double ceilingDbtp = kTruePeakCeilingDbtp);

}  // namespace clipwren::processing
