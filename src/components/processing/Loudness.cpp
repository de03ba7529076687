#include "components/processing/Loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace clipwren::processing {

namespace {
// Blocks handed to the meter at once; its calls take at most an unsigned count of frames.
constexpr int64_t kMaxFramesPerCall = 1 << 20;

double decibels(double linear) {
    return linear > 0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}
}  // namespace

struct LoudnessMeter::State {
    explicit State(ebur128_state* meter) : meter(meter) {}
    ~State() { ebur128_destroy(&meter); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ebur128_state* meter;
};

// The histogram keeps the meter's memory fixed whatever the piece's length (0.1 LU steps).
LoudnessMeter::LoudnessMeter(int rate, int channels) : channels_(channels) {
    ebur128_state* meter = ebur128_init(unsigned(channels), static_cast<unsigned long>(rate),
                                        EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_HISTOGRAM);
    if (!meter) throw std::bad_alloc();
    state_ = std::make_unique<State>(meter);
}

LoudnessMeter::~LoudnessMeter() = default;

void LoudnessMeter::add(const float* samples, int64_t frames) {
    while (frames > 0) {
        const int64_t now = std::min(frames, kMaxFramesPerCall);
        if (ebur128_add_frames_float(state_->meter, samples, size_t(now)) != EBUR128_SUCCESS) throw std::bad_alloc();
        samples += now * channels_;
        frames -= now;
    }
}

Loudness LoudnessMeter::result() const {
    Loudness measured;
    if (ebur128_loudness_global(state_->meter, &measured.integratedLufs) != EBUR128_SUCCESS)
        measured.integratedLufs = -std::numeric_limits<double>::infinity();
    double peak = 0;
    for (int c = 0; c < channels_; ++c) {
        double channelPeak = 0;
        if (ebur128_true_peak(state_->meter, unsigned(c), &channelPeak) == EBUR128_SUCCESS)
            peak = std::max(peak, channelPeak);
    }
    measured.truePeakDbtp = decibels(peak);
    return measured;
}

NormalizationGain normalizationGain(const Loudness& measured, double targetLufs, double ceilingDbtp) {
    if (!std::isfinite(measured.integratedLufs) || !std::isfinite(measured.truePeakDbtp)) return {};
    const double wanted = targetLufs - measured.integratedLufs;
    const double allowed = ceilingDbtp - kTruePeakMarginDb - measured.truePeakDbtp;
    if (wanted <= allowed) return {wanted, false};
    return {allowed, true};
}

}  // namespace clipwren::processing
