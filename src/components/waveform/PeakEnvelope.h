#pragma once
// A sound's envelope: the lowest and highest sample of every 256 frames, over all its
// channels together. Fine enough for any slider width, small enough to keep (2.5 MB
// for an hour at 44.1 kHz). Plain data; the waveform loader guards it between threads.
#include <cstdint>
#include <vector>

namespace clipwren::waveform {

inline constexpr int kFramesPerPeak = 256;

// Samples scaled to -32767..32767. A peak not computed yet has low > high.
struct Peak {
    int16_t low = 1;
    int16_t high = 0;
    bool known() const { return low <= high; }
};

// One pixel column's extent, in -1..1; both NaN where nothing is known yet.
struct ColumnPeaks {
    std::vector<float> low;
    std::vector<float> high;
};

struct PeakEnvelope {
    int sampleRate = 0;
    int64_t frames = 0;
    std::vector<Peak> peaks;

    PeakEnvelope() = default;
    // A sound of `frames` frames, nothing known yet.
    PeakEnvelope(int rate, int64_t frameCount);

    // Changes the length, keeping what is known of the part that remains.
    void resize(int64_t frameCount);
    // The peak of samples in -1..1 (the range is clamped).
    static Peak peakOf(float low, float high);

    // `count` columns over fromMs..toMs, as a slider showing that part places them:
    // column c is centred on fromMs + c * (toMs - fromMs) / (count - 1) and reaches
    // halfway to its neighbours. Each takes in every peak it touches, at least the one
    // at its centre.
    ColumnPeaks columns(int count, double fromMs, double toMs) const;
    // The time one peak covers, in milliseconds: below it, columns repeat peaks.
    double msPerPeak() const;
};

}  // namespace clipwren::waveform
