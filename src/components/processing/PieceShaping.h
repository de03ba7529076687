#pragma once
// Fades and loudness normalization of a marked piece read from a decoder: the one place
// where the saved file and "Play marked" get the same envelope.
#include "components/processing/Loudness.h"
#include "components/processing/PieceEnvelope.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace clipwren::decode {
class AudioDecoder;
}

namespace clipwren::processing {

struct Shaping {
    Fades fades;
    // The integrated loudness to bring the piece to; none leaves its level alone.
    std::optional<double> normalizeToLufs;
    bool any() const { return fades.inSeconds > 0 || fades.outSeconds > 0 || normalizeToLufs.has_value(); }
    bool operator==(const Shaping&) const = default;
};

struct ShapingPlan {
    PieceEnvelope envelope;
    std::optional<Loudness> measured;  // of the faded piece, before the gain; when normalizing
    NormalizationGain gain;
    // One line for a verbose report: what was measured and what gain it got.
    QString summary() const;
};

// The envelope of frames [beginFrame, endFrame) of `source`. When normalizing, the faded
// piece is read and measured first (the source is left somewhere in the piece; seek before
// reading it again). Returns 0, or the decoder's error code; err::UnknownError when
// `cancelled` said so part-way. `measured` (may be empty) hears of the frames measured so far.
int32_t planShaping(decode::AudioDecoder& source, int64_t beginFrame, int64_t endFrame, const Shaping& shaping,
                    const std::function<bool()>& cancelled, ShapingPlan* plan,
                    const std::function<void(int64_t done, int64_t total)>& measured = {});

}  // namespace clipwren::processing
