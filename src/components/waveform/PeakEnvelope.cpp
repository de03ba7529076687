#include "components/waveform/PeakEnvelope.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace clipwren::waveform {

PeakEnvelope::PeakEnvelope(int rate, int64_t frameCount) : sampleRate(rate) { resize(frameCount); }

void PeakEnvelope::resize(int64_t frameCount) {
    frames = std::max<int64_t>(0, frameCount);
    peaks.resize(size_t((frames + kFramesPerPeak - 1) / kFramesPerPeak));
}

Peak PeakEnvelope::peakOf(float low, float high) {
    const auto scaled = [](float v) { return int16_t(std::lrint(std::clamp(v, -1.0f, 1.0f) * 32767.0f)); };
    return {scaled(low), scaled(high)};
}

double PeakEnvelope::msPerPeak() const { return sampleRate > 0 ? kFramesPerPeak * 1000.0 / sampleRate : 0; }

ColumnPeaks PeakEnvelope::columns(int count, double fromMs, double toMs) const {
    ColumnPeaks result;
    const float unknown = std::numeric_limits<float>::quiet_NaN();
    result.low.assign(size_t(std::max(count, 0)), unknown);
    result.high.assign(size_t(std::max(count, 0)), unknown);
    if (count <= 0 || peaks.empty() || sampleRate <= 0 || toMs <= fromMs) return result;

    const int64_t last = int64_t(peaks.size()) - 1;
    const double lengthMs = toMs - fromMs;
    const double msPerColumn = count > 1 ? lengthMs / (count - 1) : lengthMs;
    const double peaksPerMs = double(sampleRate) / 1000.0 / kFramesPerPeak;
    const auto peakAt = [&](double ms) { return std::clamp<int64_t>(int64_t(std::floor(ms * peaksPerMs)), 0, last); };
    for (int c = 0; c < count; ++c) {
        const double centre = fromMs + (count > 1 ? c * msPerColumn : lengthMs / 2.0);
        const double half = count > 1 ? msPerColumn / 2 : lengthMs / 2.0;
        const int64_t first = peakAt(centre - half);
        // The right edge belongs to the next column.
        const int64_t end = std::max(peakAt(centre + half - 1e-9), first);
        int low = std::numeric_limits<int>::max();
        int high = std::numeric_limits<int>::min();
        for (int64_t p = first; p <= end; ++p) {
            const Peak& peak = peaks[size_t(p)];
            if (!peak.known()) continue;
            low = std::min<int>(low, peak.low);
            high = std::max<int>(high, peak.high);
        }
        if (low > high) continue;
        result.low[size_t(c)] = float(low) / 32767.0f;
        result.high[size_t(c)] = float(high) / 32767.0f;
    }
    return result;
}

}  // namespace clipwren::waveform
