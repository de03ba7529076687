#include "components/soundeditor/lossless/LosslessCut.h"

#include "components/soundeditor/lossless/AacCut.h"
#include "components/soundeditor/lossless/Mp3Cut.h"
#include "components/soundeditor/lossless/Mp3FrameIndex.h"

namespace clipwren::soundeditor {

namespace {

enum class Kind { Other, Mp3, AacInMp4 };

Kind sourceKind(const decode::SourceInfo& source) {
    // By decoder name: "mp3float" or "mp3" decode Layer III only, "aac" or "aac_fixed" AAC.
    if (source.containerName == QLatin1String("mp3") && source.codecName.startsWith(QLatin1String("mp3")))
        return Kind::Mp3;
    if (source.containerName.startsWith(QLatin1String("mov,mp4")) && source.codecName.startsWith(QLatin1String("aac")))
        return Kind::AacInMp4;
    return Kind::Other;
}

Kind outputKind(const Encoding& encoding) {
    const QLatin1String muxer(encoding.muxer);
    if (muxer == QLatin1String("mp3")) return Kind::Mp3;
    if (muxer == QLatin1String("ipod") || muxer == QLatin1String("mp4")) return Kind::AacInMp4;
    return Kind::Other;
}

CopyResult cutMp3(const LosslessCutRequest& request, PendingOutputFile& output, const CopyHooks& hooks) {
    QString whyNot;
    const std::unique_ptr<mp3::Mp3FrameIndex> frames = mp3::Mp3FrameIndex::open(request.source, &whyNot);
    const std::optional<mp3::Mp3Index> index =
        frames ? frames->framesForPiece(request.begin, request.end, &whyNot) : std::nullopt;
    if (!index) return CopyResult::notPossible(whyNot);
    if (!request.keepSourceEncoding) {
        const std::optional<QString> differ =
            mp3::settingsDiffer(*index, request.sampleRate, request.channels, request.encoding.bitRate);
        if (differ) return CopyResult::notPossible(*differ);
    }
    return mp3::copyMp3(request.source, *index, request.begin, request.end, output, hooks);
}

}  // namespace

CopyResult cutWithoutReencoding(const LosslessCutRequest& request, PendingOutputFile& output, const CopyHooks& hooks) {
    const Kind kind = sourceKind(request.sourceInfo);
    if (kind == Kind::Other)
        return CopyResult::notPossible(QStringLiteral("only MP3 and AAC in MP4 files can be cut without re-encoding"));
    if (outputKind(request.encoding) != kind)
        return CopyResult::notPossible(
            kind == Kind::Mp3 ? QStringLiteral("an MP3 keeps its encoding only in an MP3 file")
                              : QStringLiteral("AAC keeps its encoding only in an MP4, M4A or M4R file"));
    if (kind == Kind::Mp3) return cutMp3(request, output, hooks);
    if (!request.keepSourceEncoding &&
        (request.sampleRate != request.sourceInfo.sampleRate || request.channels != request.sourceInfo.channels))
        return CopyResult::notPossible(QStringLiteral("the output's sample rate or channels are not the source's"));
    return aac::writeAacCut(request.source, request.begin, request.end, request.encoding.muxer, request.tags,
                            output, hooks);
}

}  // namespace clipwren::soundeditor
