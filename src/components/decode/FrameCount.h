#pragma once
// Counting frames (one sample per channel) across rates, free of the audio libraries so
// that the MP3 copy, which runs without them, counts as the decoder does.
#include <cmath>
#include <cstdint>

namespace clipwren::decode {

// Converts between milliseconds and frames at a rate, rounding to the nearest.
inline int64_t msToFrames(int64_t ms, int rate) { return std::llround(double(ms) * rate / 1000.0); }
inline int64_t framesToMs(int64_t frames, int rate) {
    return rate > 0 ? std::llround(double(frames) * 1000.0 / rate) : 0;
}

// The length rule: what a continuous conversion of `sourceFrames` at `sourceRate` yields
// at `outputRate`, ceil(sourceFrames * outputRate / sourceRate), as the resampler ends
// on the output sample that covers the last source sample (and as `ffmpeg -ar` counts).
inline int64_t framesAtRate(int64_t sourceFrames, int sourceRate, int outputRate) {
    if (sourceRate == outputRate || sourceRate <= 0) return sourceFrames;
    const __int128 scaled = __int128(sourceFrames) * outputRate + sourceRate - 1;
    return int64_t(scaled / sourceRate);
}

}  // namespace clipwren::decode
