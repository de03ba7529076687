#include "components/soundeditor/CutPipeline.h"

#include "components/errors/FileFailure.h"
#include "components/files/LocalFileName.h"
#include "components/soundeditor/lossless/Mp3Cut.h"
#include "components/soundeditor/lossless/Mp3FrameIndex.h"

#include <chrono>
#include <filesystem>
#include <utility>

namespace clipwren::soundeditor {

namespace {

constexpr int kMinExportRate = 8000;
constexpr int kMaxExportRate = 192000;
const QString kLineBreak = QStringLiteral("\r\n");

bool cancelled(const CutHooks& hooks) { return hooks.cancelled && hooks.cancelled(); }
void progress(const CutHooks& hooks, CutPhase phase, int percent) {
    if (hooks.progress) hooks.progress(phase, percent);
}

// Reports percentages, each value once.
class PercentSteps {
public:
    explicit PercentSteps(std::function<void(int)> report) : report_(std::move(report)) {}
    void update(int64_t done, int64_t total) {
        const int percent = total > 0 ? int(done * 100 / total) : 100;
        if (percent != last_) report_(last_ = percent);
    }

private:
    std::function<void(int)> report_;
    int last_ = -1;
};

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

// Why a crop of begin..end leaves nothing of a piece `piece` long, all at `rate`, in the
// marks' terms; empty when it leaves something.
QString emptyRangeReason(int64_t begin, std::optional<int64_t> end, int64_t piece, int rate) {
    const auto seconds = [rate](int64_t at) { return QString::number(double(at) / rate, 'f', 3); };
    if (end && *end <= begin)
        return QStringLiteral("the end mark (%1 s) is not after the begin mark (%2 s)").arg(seconds(*end), seconds(begin));
    if (begin >= piece)
        return QStringLiteral("the begin mark (%1 s) lies %2 the end of the sound (%3 s)")
            .arg(seconds(begin), begin == piece ? QStringLiteral("at") : QStringLiteral("after"), seconds(piece));
    return QString();
}

// A file's size and modification time (nanoseconds), to tell it unchanged; zeros where
// they cannot be read.
std::pair<uintmax_t, int64_t> fileIdentity(const QString& path) {
    std::error_code error;
    const std::filesystem::path name = files::fileSystemPath(path);
    const uintmax_t size = std::filesystem::file_size(name, error);
    if (error) return {};
    const auto modified = std::filesystem::last_write_time(name, error);
    if (error) return {};
    return {size, int64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count())};
}

}  // namespace

Failure CutPipeline::checkInput(const QString& path) {
    std::error_code statusError;
    if (path.isEmpty() || !std::filesystem::is_regular_file(files::fileSystemPath(path), statusError))
        return {err::InvalidSoundFile, FileFailureText(path, files::WhyNotReadable(path))};
    return {};
}

QString CutReport::message() const {
    QString text = (phase == CutPhase::Loading ? QStringLiteral("File could not be loaded.")
                                               : QStringLiteral("Export to file failed.")) +
                   kLineBreak + GetErrorDescription(failure.code);
    if (!failure.detail.isEmpty()) text += kLineBreak + failure.detail;
    return text;
}

CutPipeline::CutPipeline(const Codecs* codecs) : codecs_(codecs) {}
CutPipeline::~CutPipeline() = default;

bool CutPipeline::holdsSound() const { return decoded_ || walked_; }

void CutPipeline::unload() {
    decoded_.reset();
    walked_.reset();
    path_.clear();
    source_ = {};
    workingLength_ = 0;
    selection_ = {};
    emptySelectionReason_.clear();
}

Failure CutPipeline::load(const QString& path, const CutHooks& hooks) {
    std::unique_ptr<mp3::Mp3FrameIndex> kept;
    if (walked_ && path == path_ && fileIdentity(path) == walkedFile_) kept = std::move(walked_);
    unload();
    if (Failure refused = checkInput(path); refused.failed()) return refused;
    progress(hooks, CutPhase::Loading, 0);
    if (codecs_) {
        Result<std::unique_ptr<DecodedSource>> opened = codecs_->open(path);
        if (cancelled(hooks)) return {kCancelled};
        if (!opened) return opened.failure();
        decoded_ = std::move(*opened);
        source_ = decoded_->info();
        workingLength_ = decoded_->lengthFrames();
    } else {
        // Only an MP3 can be cut without the codecs; its frame index gives the length,
        // and then the frames of the piece.
        walkedFile_ = fileIdentity(path);
        Result<std::unique_ptr<mp3::Mp3FrameIndex>> index = kept ? std::move(kept) : mp3::Mp3FrameIndex::open(path);
        const std::optional<int64_t> length = index ? (*index)->decodedLength() : std::nullopt;
        if (!length || *length <= 0)
            return {err::InvalidSoundFile, path + QStringLiteral(": ") + index.failure().detail};
        const int rate = (*index)->head().stream.sampleRate;
        source_ = {rate, (*index)->head().stream.channels(), *length, QStringLiteral("mp3"), QStringLiteral("mp3")};
        workingLength_ = decode::framesAtRate(*length, rate, kWorkingRate);
        walked_ = std::move(*index);
    }
    path_ = path;
    progress(hooks, CutPhase::Loading, 100);
    return {};
}

Failure CutPipeline::crop(const SampleRange& range, const CutHooks& hooks) {
    progress(hooks, CutPhase::Cropping, 0);
    // The new range counts from the start of the piece held so far.
    if (!selection_.empty)
        emptySelectionReason_ = emptyRangeReason(std::max<int64_t>(range.begin, 0), range.end,
                                                 selection_.lengthAt(range.rate, workingLength_), range.rate);
    selection_ = selection_.cropped(range, workingLength_);
    // Seeking decodes from before the begin up to it, so an unreachable begin shows up
    // now rather than at export.
    if (!selection_.empty && decoded_) {
        if (Failure sought = decoded_->seek(selection_.frames(kWorkingRate, workingLength_).first); sought.failed())
            return sought;
    }
    progress(hooks, CutPhase::Cropping, 100);
    return {};
}

Failure CutPipeline::planExport(const OutputFormatSettings& format, int sampleRate, int channels,
                                const QString& outputPath, const Finish& finish, ExportPlan* plan,
                                ExportReport* report) const {
    *report = {};
    if (!holdsSound()) return {err::EditorEmpty};
    if (selection_.empty) return {err::NoSelection, emptySelectionReason_};
    if (sampleRate < kMinExportRate || sampleRate > kMaxExportRate || channels < 1 || channels > 2)
        return {err::InvalidExportSettings};
    Encoding encoding;
    if (const int32_t chosen = chooseEncoding(format, outputPath, channels, &encoding); chosen != err::Ok) {
        if (chosen == err::NotAvailableForFormat)
            report->reason = QStringLiteral("an MP3 keeps its encoding only as .mp3, AAC only as .m4a, .m4r or .mp4");
        return {chosen};
    }
    if (!encoding.keepSourceEncoding && codecs_ && !codecs_->hasEncoder(encoding.codec))
        return {err::EncoderNotAvailable};
    if (outputPath.isEmpty()) return {err::FileCreationFailed};
    OutputPlan output;
    if (Failure refused = planOutput(outputPath, path_, needsSeekableOutput(encoding), &output); refused.failed())
        return refused;
    *plan = {encoding, output, sampleRate, channels, finish, {}};
    return {};
}

Failure CutPipeline::exportTo(const ExportPlan& plan, const CutHooks& hooks, ExportReport* report) {
    progress(hooks, CutPhase::Exporting, 0);
    PendingOutputFile output(plan.output, [&hooks] { return cancelled(hooks); });
    Failure result = write(plan, output, hooks, report);
    // A failure the output had a part in names it, with the system's reason where there is one.
    if (result.failed() && !cancelled(hooks) &&
        (output.systemError() != 0 || result.code == err::FileCreationFailed))
        result.detail = output.failureDetail();
    if (cancelled(hooks) && result.failed()) result = {kCancelled};
    return result;
}

Failure CutPipeline::write(const ExportPlan& plan, PendingOutputFile& output, const CutHooks& hooks,
                           ExportReport* report) {
    const int32_t opened = output.open();
    if (cancelled(hooks)) return {kCancelled};
    if (opened != err::Ok) return {opened};
    PercentSteps percent([&hooks](int value) { progress(hooks, CutPhase::Exporting, value); });
    const CopyHooks copyHooks{[&percent](int64_t done, int64_t total) { percent.update(done, total); },
                              [&hooks] { return cancelled(hooks); }};
    std::optional<Failure> result = copy(plan, output, copyHooks, report);
    if (!result) {
        // Encoding needs the codecs; without them the cut is not made here.
        if (!decoded_) return {err::EncoderNotAvailable};
        result = decoded_->encode(selection_, plan, output, copyHooks, report);
    }
    if (result->failed()) return *result;
    if (cancelled(hooks)) return {kCancelled};
    if (const int32_t committed = output.commit(); committed != err::Ok) return {committed};
    percent.update(1, 1);
    return {};
}

// Copy or encode: the one place that decides, and says why a piece is encoded anew.
std::optional<Failure> CutPipeline::copy(const ExportPlan& plan, PendingOutputFile& output, const CopyHooks& hooks,
                                         ExportReport* report) {
    const Encoding& encoding = plan.encoding;
    if (!encoding.keepSourceEncoding && !encoding.copyWhereAlike) {
        report->reason = QStringLiteral("encoding anew was asked for");
        return std::nullopt;
    }
    const bool mp3ToMp3 = sourceKind(source_) == Kind::Mp3 && outputKind(encoding) == Kind::Mp3;
    if (plan.finish.changesSound() && !(plan.finish.onlyGain() && mp3ToMp3)) {
        report->reason = QStringLiteral("fades or loudness normalization change the sound");
        if (encoding.keepSourceEncoding) return Failure{err::NotAvailableForFormat};
        return std::nullopt;
    }
    const auto [begin, end] = selection_.frames(source_.sampleRate, source_.lengthFrames);
    if (end <= begin) return Failure{err::NoSelection};
    const Failure copied = copyPiece(plan, begin, end, output, hooks, &report->loudness);
    if (!isCopyNotPossible(copied)) {
        report->copied = !copied.failed();
        return copied;
    }
    report->reason = copied.detail;
    if (encoding.keepSourceEncoding) return Failure{err::NotAvailableForFormat};
    // The encoder starts on an empty output.
    if (!output.restart()) return Failure{err::FileCreationFailed};
    return std::nullopt;
}

// The source's own encoded frames of [begin, end) (at its rate) copied into output, where
// the output keeps their encoding: an MP3 cut to MP3, or AAC in MP4 to an MP4/M4A/M4R,
// whose settings match the source's (rate, channels, and for a constant-rate MP3 the bit
// rate), or whatever the settings when the source's encoding is to be kept.
Failure CutPipeline::copyPiece(const ExportPlan& plan, int64_t begin, int64_t end, PendingOutputFile& output,
                               const CopyHooks& hooks, QString* loudness) {
    const Encoding& encoding = plan.encoding;
    const Kind kind = sourceKind(source_);
    if (kind == Kind::Other)
        return copyNotPossible(QStringLiteral("only MP3 and AAC in MP4 files can be cut without re-encoding"));
    if (outputKind(encoding) != kind)
        return copyNotPossible(kind == Kind::Mp3
                               ? QStringLiteral("an MP3 keeps its encoding only in an MP3 file")
                               : QStringLiteral("AAC keeps its encoding only in an MP4, M4A or M4R file"));
    if (kind == Kind::Mp3) {
        std::unique_ptr<mp3::Mp3FrameIndex> opened;
        if (!walked_) {
            Result<std::unique_ptr<mp3::Mp3FrameIndex>> index = mp3::Mp3FrameIndex::open(path_);
            if (!index) return index.failure();
            opened = std::move(*index);
        }
        const Result<mp3::Mp3Index> piece = (walked_ ? walked_ : opened)->framesForPiece(begin, end);
        if (!piece) return piece.failure();
        if (!encoding.keepSourceEncoding) {
            if (Failure differ = mp3::settingsDiffer(*piece, plan.sampleRate, plan.channels, encoding.bitRate);
                differ.failed())
                return differ;
        }
        // Normalized: the frames' global gain takes the gain, once the copy is otherwise
        // possible, as it needs the piece decoded and measured first (the first half of
        // the progress).
        int gainSteps = 0;
        CopyHooks copyHooks = hooks;
        if (plan.finish.changesSound()) {
            if (!decoded_) return copyNotPossible(QStringLiteral("measuring the loudness needs the decoder"));
            const CopyHooks measuring{[&hooks](int64_t done, int64_t total) {
                                          if (hooks.progress) hooks.progress(done, 2 * total);
                                      },
                                      hooks.cancelled};
            if (Failure failed = decoded_->planGlobalGain(selection_, source_.sampleRate, source_.channels,
                                                          plan.finish.shaping, measuring, &gainSteps, loudness);
                failed.failed())
                return failed;
            if (hooks.progress)
                copyHooks.progress = [&hooks](int64_t done, int64_t total) { hooks.progress(total + done, 2 * total); };
        }
        return mp3::copyMp3(path_, *piece, begin, end, plan.tags, gainSteps, output, copyHooks);
    }
    if (!encoding.keepSourceEncoding &&
        (plan.sampleRate != source_.sampleRate || plan.channels != source_.channels))
        return copyNotPossible(QStringLiteral("the output's sample rate or channels are not the source's"));
    return decoded_->copyAac(begin, end, encoding, plan.tags, output, hooks);
}

CutReport runCut(const CutRequest& request, const Codecs* codecs, const CutHooks& hooks) {
    CutPipeline pipeline(codecs);
    return runCut(pipeline, request, hooks);
}

CutReport runCut(CutPipeline& pipeline, const CutRequest& request, const CutHooks& hooks) {
    failWritesIntoBrokenPipes();
    const bool codecs = pipeline.hasCodecs();
    CutReport report;
    const auto failed = [&](CutPhase phase, Failure failure) {
        report.phase = phase;
        report.failure = std::move(failure);
        // Without the codecs anything but a copy made is theirs to make, or to refuse.
        report.needsCodecs = !codecs && !cancelled(hooks);
        return report;
    };
    if (Failure failure = pipeline.load(request.input, hooks); failure.failed())
        return failed(CutPhase::Loading, failure);
    if (Failure failure = pipeline.crop(request.range, hooks); failure.failed())
        return failed(CutPhase::Cropping, failure);
    ExportPlan plan;
    if (Failure failure = pipeline.planExport(request.format, request.sampleRate, request.channels, request.output,
                                              request.finish, &plan, &report.exported);
        failure.failed())
        return failed(CutPhase::Exporting, failure);
    plan.tags = request.tags;
    // A stream could not take back what a copy failing part-way had put into it.
    if (!codecs && plan.output.kind != OutputPlan::Kind::ReplacedFile)
        return failed(CutPhase::Exporting, {err::EncoderNotAvailable});
    if (Failure failure = pipeline.exportTo(plan, hooks, &report.exported); failure.failed())
        return failed(CutPhase::Exporting, failure);
    report.phase = CutPhase::Exporting;
    return report;
}

}  // namespace clipwren::soundeditor

namespace clipwren {

QStringList ExportReport::shortfalls() const {
    const auto seconds = [](int64_t ms) { return QString::number(double(ms) / 1000.0, 'f', 3); };
    QStringList said;
    if (missingMs > 0)
        said << QStringLiteral("the sound ends %1 s before the end of the range; the file holds the %2 s "
                               "that could be decoded.")
                    .arg(seconds(missingMs), seconds(writtenMs));
    if (concealedMs > 0 || damagedPackets > 0)
        said << QStringLiteral("the input is damaged: %1 s of its audio in the range could not be decoded "
                               "and is silence in the file (%2 damaged %3 skipped).")
                    .arg(seconds(concealedMs))
                    .arg(damagedPackets)
                    .arg(damagedPackets == 1 ? QStringLiteral("packet") : QStringLiteral("packets"));
    return said;
}

}  // namespace clipwren
