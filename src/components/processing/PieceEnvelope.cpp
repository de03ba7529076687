#include "components/processing/PieceEnvelope.h"

#include <algorithm>
#include <cmath>

namespace clipwren::processing {

PieceEnvelope::PieceEnvelope(int64_t pieceFrames, int rate, const Fades& fades, double gainDb)
    : pieceFrames_(std::max<int64_t>(pieceFrames, 0)), gain_(float(std::pow(10.0, gainDb / 20.0))) {
    const auto framesOf = [&](double seconds) {
        const double clamped = std::clamp(seconds, 0.0, kMaxFadeSeconds);
        return std::min<int64_t>(std::llround(clamped * rate), pieceFrames_ / 2);
    };
    fadeInFrames_ = framesOf(fades.inSeconds);
    fadeOutFrames_ = framesOf(fades.outSeconds);
}

// The fade in runs from 0 at the piece's first frame; the fade out mirrors it, reaching 0
// at the piece's last frame.
double PieceEnvelope::factorAt(int64_t frame) const {
    double factor = gain_;
    if (frame >= 0 && frame < fadeInFrames_) factor *= fadeCurve(double(frame) / double(fadeInFrames_));
    const int64_t fromEnd = pieceFrames_ - 1 - frame;
    if (fromEnd >= 0 && fromEnd < fadeOutFrames_) factor *= fadeCurve(double(fromEnd) / double(fadeOutFrames_));
    return factor;
}

void PieceEnvelope::apply(float* samples, int channels, int64_t first, int64_t frames) const {
    if (unchanging()) return;
    const int64_t steadyFrom = fadeInFrames_;
    const int64_t steadyTo = pieceFrames_ - fadeOutFrames_;
    for (int64_t i = 0; i < frames;) {
        const int64_t frame = first + i;
        if (frame >= steadyFrom && frame < steadyTo) {
            // Between the fades one factor holds for a whole stretch.
            const int64_t stretch = std::min(frames - i, steadyTo - frame);
            float* from = samples + i * channels;
            if (gain_ != 1.0f)
                std::transform(from, from + stretch * channels, from, [g = gain_](float s) { return s * g; });
            i += stretch;
            continue;
        }
        const float factor = float(factorAt(frame));
        for (int c = 0; c < channels; ++c) samples[i * channels + c] *= factor;
        ++i;
    }
}

}  // namespace clipwren::processing
