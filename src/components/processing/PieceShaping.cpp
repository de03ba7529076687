#include "components/processing/PieceShaping.h"

#include "components/decode/AudioDecoder.h"
#include "components/errors/modSoundErrDesc.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace clipwren::processing {

namespace {
constexpr int64_t kChunkFrames = 8192;
}

QString ShapingPlan::summary() const {
    if (!measured) return {};
    if (!std::isfinite(measured->integratedLufs)) return QStringLiteral("the piece is silent: no gain applied");
    QString said = QStringLiteral("loudness %1 LUFS, true peak %2 dBTP: gain %3 dB")
                       .arg(measured->integratedLufs, 0, 'f', 1)
                       .arg(measured->truePeakDbtp, 0, 'f', 1)
                       .arg(gain.gainDb, 0, 'f', 2);
    if (gain.peakLimited)
        said += QStringLiteral(", lowered to keep the true peak under %1 dBTP").arg(kTruePeakCeilingDbtp, 0, 'f', 1);
    return said;
}

int32_t planShaping(decode::AudioDecoder& source, int64_t beginFrame, int64_t endFrame, const Shaping& shaping,
                    const std::function<bool()>& cancelled, ShapingPlan* plan,
                    const std::function<void(int64_t done, int64_t total)>& measured) {
    const int64_t pieceFrames = std::max<int64_t>(endFrame - beginFrame, 0);
    const int rate = source.outputRate();
    *plan = {};
    plan->envelope = PieceEnvelope(pieceFrames, rate, shaping.fades);
    if (!shaping.normalizeToLufs) return err::Ok;

    const int channels = source.outputChannels();
    if (const int32_t sought = source.seek(beginFrame); sought != err::Ok) return sought;
    LoudnessMeter meter(rate, channels);
    std::vector<float> chunk(size_t(kChunkFrames * channels));
    for (int64_t done = 0; done < pieceFrames;) {
        if (cancelled && cancelled()) return err::UnknownError;
        const int64_t got = source.read(chunk.data(), std::min(kChunkFrames, pieceFrames - done));
        if (got < 0) return int32_t(got);
        if (got == 0) break;
        plan->envelope.apply(chunk.data(), channels, done, got);
        meter.add(chunk.data(), got);
        done += got;
        if (measured) measured(done, pieceFrames);
    }
    plan->measured = meter.result();
    plan->gain = normalizationGain(*plan->measured, *shaping.normalizeToLufs);
    plan->envelope = PieceEnvelope(pieceFrames, rate, shaping.fades, plan->gain.gainDb);
    return err::Ok;
}

}  // namespace clipwren::processing
