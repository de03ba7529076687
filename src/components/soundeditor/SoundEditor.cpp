#include "components/soundeditor/SoundEditor.h"

#include "components/decode/AudioDecoder.h"
#include "components/decode/LocalFileName.h"
#include "components/errors/FileFailure.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/EncodedFileWriter.h"
#include "components/soundeditor/FormatTable.h"
#include "components/soundeditor/PendingOutputFile.h"
#include "components/soundeditor/Selection.h"
#include "components/soundeditor/SourceTags.h"
#include "components/soundeditor/lossless/LosslessCut.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace clipwren {

namespace {

using soundeditor::kWorkingChannels;
using soundeditor::kWorkingRate;
using soundeditor::Selection;

constexpr int kMinExportRate = 8000;
constexpr int kMaxExportRate = 192000;
constexpr int64_t kChunkFrames = 8192;
// A cancelled operation completes with this code.
constexpr int32_t kCancelled = err::UnknownError;

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

// A file that is there but cannot be decoded: the file and the decoder's reason; else
// the file and the system's reason it cannot be read.
QString undecodable(const QString& path, const QString& decoderReason) {
    return FileFailureText(path, decode::WhyNotReadable(path).value_or(decoderReason));
}

// Why a crop of beginMs..endMs leaves nothing of a piece pieceMs long, in the marks'
// terms; empty when it leaves something.
QString emptyRangeReason(int64_t beginMs, int64_t endMs, int64_t pieceMs) {
    const auto seconds = [](int64_t ms) { return QString::number(double(ms) / 1000.0, 'f', 3); };
    if (endMs <= beginMs)
        return QStringLiteral("the end mark (%1 s) is not after the begin mark (%2 s)").arg(seconds(endMs), seconds(beginMs));
    if (beginMs >= pieceMs)
        return QStringLiteral("the begin mark (%1 s) lies %2 the end of the sound (%3 s)")
            .arg(seconds(beginMs), beginMs == pieceMs ? QStringLiteral("at") : QStringLiteral("after"), seconds(pieceMs));
    return QString();
}

}  // namespace

struct SoundEditor::Impl {
    explicit Impl(SoundEditor* owner) : owner(owner), worker([this] { runWorker(); }) {}
    ~Impl() {
        cancelRequested = true;
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        worker.join();
    }

    SoundEditor* owner;
    OutputFormatSettings format;
    int32_t lastError = err::Ok;
    QString lastDetail;  // the file and the reason of the last failure, where a file had a part
    bool busy = false;  // owner's thread only; cleared when the completion is delivered

    // The loaded sound: the worker touches it only while busy, the owner's thread only
    // while not, so it needs no lock.
    std::unique_ptr<decode::AudioDecoder> decoder;
    QString soundPath;
    Selection selection;
    QString emptySelectionReason;  // why the selection is empty, once it is
    ExportReport report;  // written by the export, read once its completion has arrived
    QString workDetail;   // the running operation's failure detail; the worker's own

    // One background operation: its work, returning the result its completion carries.
    struct Job {
        std::function<int32_t()> work;
        void (*emitCompleted)(SoundEditor*, int32_t) = nullptr;
    };

    std::atomic<bool> cancelRequested{false};
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Job> job;
    bool stopping = false;
    std::thread worker;

    void runWorker() {
        soundeditor::failWritesIntoBrokenPipes();
        for (;;) {
            Job next;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return stopping || job; });
                if (stopping) return;
                next = std::move(*job);
                job.reset();
            }
            // The caller waits for the completion without a time-out: it must come, and
            // an exception must not end the program from this thread.
            int32_t result = err::UnknownError;
            try {
                result = next.work();
            } catch (const std::bad_alloc&) {
                result = err::NotEnoughMemory;
            } catch (...) {
            }
            complete(next.emitCompleted, result);
        }
    }

    int32_t refuse(int32_t code, const QString& detail = QString()) {
        lastDetail = detail;
        return lastError = code;
    }

    void start(std::function<int32_t()> work, void (*emitCompleted)(SoundEditor*, int32_t)) {
        busy = true;
        cancelRequested = false;
        lastError = err::Ok;
        lastDetail.clear();
        {
            std::lock_guard lock(mutex);
            job = Job{std::move(work), emitCompleted};
        }
        wake.notify_one();
    }

    // Runs on the owner's thread through its event loop; a pending call is dropped
    // when the editor is destroyed first.
    void post(std::function<void()> call) {
        QMetaObject::invokeMethod(owner, std::move(call), Qt::QueuedConnection);
    }
    void complete(void (*emitCompleted)(SoundEditor*, int32_t), int32_t result) {
        post([this, emitCompleted, result, detail = std::exchange(workDetail, QString())] {
            busy = false;
            lastError = result;
            lastDetail = result == err::Ok ? QString() : detail;
            emitCompleted(owner, result);
        });
    }

    int32_t load(const QString& path);
    int32_t crop(int64_t beginMs, int64_t endMs);
    int32_t exportRange(int sampleRate, int channels, const soundeditor::Encoding& encoding,
                        const soundeditor::OutputPlan& plan);
    int32_t writeOutput(int sampleRate, int channels, const soundeditor::Encoding& encoding,
                        soundeditor::PendingOutputFile& output);
    std::optional<int32_t> copyRange(int sampleRate, int channels, const soundeditor::Encoding& encoding,
                                     const soundeditor::SourceTags& tags, soundeditor::PendingOutputFile& output,
                                     PercentSteps& progress);
    int32_t encodeRange(int sampleRate, int channels, const soundeditor::Encoding& encoding,
                        const soundeditor::SourceTags& tags, soundeditor::PendingOutputFile& output,
                        PercentSteps& progress);
    int32_t writeRange(decode::AudioDecoder& source, int64_t beginFrame, int64_t endFrame,
                       const soundeditor::Encoding& encoding, const soundeditor::SourceTags& tags,
                       soundeditor::PendingOutputFile& output, PercentSteps& progress);
};

int32_t SoundEditor::Impl::load(const QString& path) {
    post([this] { emit owner->LoadProgress(0); });
    int32_t result = err::Ok;
    QString whyNot;
    auto opened = decode::AudioDecoder::open(path, kWorkingRate, kWorkingChannels, &result, &whyNot);
    if (opened && opened->lengthFrames() <= 0) result = err::InvalidSoundFile;
    if (result == err::Ok && cancelRequested) result = kCancelled;
    if (result == err::Ok) {
        decoder = std::move(opened);
        soundPath = path;
        selection = {};
        emptySelectionReason.clear();
        post([this] { emit owner->LoadProgress(100); });
    } else if (!cancelRequested) {
        workDetail = undecodable(path, whyNot);
    }
    return result;
}

int32_t SoundEditor::Impl::crop(int64_t beginMs, int64_t endMs) {
    post([this] { emit owner->CropProgress(0, 0); });
    // The new range counts from the start of the piece held so far.
    const int64_t pieceMs = selection.endMs.value_or(decoder->lengthMs()) - selection.beginMs;
    if (!selection.empty) emptySelectionReason = emptyRangeReason(std::max<int64_t>(beginMs, 0), endMs, pieceMs);
    selection = selection.cropped(beginMs, endMs, decoder->lengthMs());
    int32_t result = err::Ok;
    // Seeking decodes from before the begin mark up to it, so an unreachable begin
    // shows up now rather than at export.
    if (!selection.empty) result = decoder->seek(decode::msToFrames(selection.beginMs, decoder->outputRate()));
    if (result == err::Ok) post([this] { emit owner->CropProgress(0, 100); });
    return result;
}

int32_t SoundEditor::Impl::exportRange(int sampleRate, int channels, const soundeditor::Encoding& encoding,
                                       const soundeditor::OutputPlan& plan) {
    post([this] { emit owner->ExportProgress(0); });
    soundeditor::PendingOutputFile output(plan, [this] { return bool(cancelRequested); });
    const int32_t result = writeOutput(sampleRate, channels, encoding, output);
    // A failure the output had a part in names it, with the system's reason where there is one.
    if (result != err::Ok && !cancelRequested && (output.systemError() != 0 || result == err::FileCreationFailed))
        workDetail = output.failureDetail();
    return result;
}

int32_t SoundEditor::Impl::writeOutput(int sampleRate, int channels, const soundeditor::Encoding& encoding,
                                       soundeditor::PendingOutputFile& output) {
    int32_t result = output.open();
    if (cancelRequested) return kCancelled;
    if (result != err::Ok) return result;
    PercentSteps progress([this](int percent) { post([this, percent] { emit owner->ExportProgress(percent); }); });
    const soundeditor::SourceTags tags = soundeditor::readSourceTags(soundPath);
    const std::optional<int32_t> copied = copyRange(sampleRate, channels, encoding, tags, output, progress);
    result = copied ? *copied : encodeRange(sampleRate, channels, encoding, tags, output, progress);
    if (result != err::Ok) return result;
    if (cancelRequested) return kCancelled;
    if ((result = output.commit()) != err::Ok) return result;
    progress.update(1, 1);
    return err::Ok;
}

// Copies the source's own encoded frames where the output keeps their encoding. Returns
// the export's result, or nothing when the piece is to be encoded instead.
std::optional<int32_t> SoundEditor::Impl::copyRange(int sampleRate, int channels,
                                                    const soundeditor::Encoding& encoding,
                                                    const soundeditor::SourceTags& tags,
                                                    soundeditor::PendingOutputFile& output, PercentSteps& progress) {
    if (!encoding.keepSourceEncoding && !encoding.copyWhereAlike) {
        report.reason = QStringLiteral("encoding anew was asked for");
        return std::nullopt;
    }
    const decode::SourceInfo& source = decoder->source();
    const auto [beginFrame, endFrame] = selection.frames(source.sampleRate, source.lengthFrames);
    if (endFrame <= beginFrame) return err::NoSelection;
    const soundeditor::LosslessCutRequest request{soundPath, source,   beginFrame, endFrame,
                                                  encoding,  sampleRate, channels, encoding.keepSourceEncoding,
                                                  tags};
    const soundeditor::CopyHooks hooks{[&progress](int64_t done, int64_t total) { progress.update(done, total); },
                                       [this] { return bool(cancelRequested); }};
    const soundeditor::CopyResult copy = soundeditor::cutWithoutReencoding(request, output, hooks);
    using Status = soundeditor::CopyResult::Status;
    switch (copy.status) {
    case Status::Copied:
        report.copied = true;
        return err::Ok;
    case Status::Failed:
        return copy.error;
    case Status::Cancelled:
        return kCancelled;
    case Status::NotPossible:
        break;
    }
    report.reason = copy.reason;
    if (encoding.keepSourceEncoding) return err::NotAvailableForFormat;
    // The encoder starts on an empty output.
    if (!output.restart()) return err::FileCreationFailed;
    return std::nullopt;
}

int32_t SoundEditor::Impl::encodeRange(int sampleRate, int channels, const soundeditor::Encoding& encoding,
                                       const soundeditor::SourceTags& tags, soundeditor::PendingOutputFile& output,
                                       PercentSteps& progress) {
    int32_t result = err::Ok;
    std::unique_ptr<decode::AudioDecoder> otherFormat;
    decode::AudioDecoder* source = decoder.get();
    if (decoder->outputRate() != sampleRate || decoder->outputChannels() != channels) {
        QString whyNot;
        otherFormat = decode::AudioDecoder::open(soundPath, sampleRate, channels, &result, &whyNot);
        if (!otherFormat) workDetail = undecodable(soundPath, whyNot);
        source = otherFormat.get();
    }
    if (!source) return result;
    const auto [beginFrame, endFrame] = selection.frames(sampleRate, source->lengthFrames());
    if (endFrame <= beginFrame) return err::NoSelection;
    return writeRange(*source, beginFrame, endFrame, encoding, tags, output, progress);
}

int32_t SoundEditor::Impl::writeRange(decode::AudioDecoder& source, int64_t beginFrame, int64_t endFrame,
                                      const soundeditor::Encoding& encoding, const soundeditor::SourceTags& tags,
                                      soundeditor::PendingOutputFile& output, PercentSteps& progress) {
    int32_t result = err::Ok;
    const int channels = source.outputChannels();
    auto writer = soundeditor::EncodedFileWriter::open(output, encoding, source.outputRate(), channels, tags, &result);
    if (!writer) return result;
    // What the output's decoder drops goes in ahead of the piece: the sound before it,
    // and silence for what lies before the sound's start.
    const int64_t lead = writer->leadFrames();
    writer->announceLength(lead + endFrame - beginFrame);
    const int64_t leadFrom = std::max<int64_t>(0, beginFrame - lead);
    if ((result = source.seek(leadFrom)) != err::Ok) return result;
    if ((result = writer->writeSilence(lead - (beginFrame - leadFrom))) != err::Ok) return result;

    std::vector<float> chunk(size_t(kChunkFrames * channels));
    for (int64_t left = beginFrame - leadFrom; left > 0;) {
        const int64_t got = source.read(chunk.data(), std::min(kChunkFrames, left));
        if (got < 0) return int32_t(got);
        if (got == 0) break;  // nothing more to decode: the piece below finds none either
        if ((result = writer->write(chunk.data(), got)) != err::Ok) return result;
        left -= got;
    }
    const int64_t total = endFrame - beginFrame;
    int64_t done = 0;
    while (done < total) {
        if (cancelRequested) return kCancelled;
        const int64_t got = source.read(chunk.data(), std::min(kChunkFrames, total - done));
        if (got < 0) return int32_t(got);
        if (got == 0) break;  // the sound ended early: the file holds what was decoded
        if ((result = writer->write(chunk.data(), got)) != err::Ok) return result;
        done += got;
        progress.update(done, total);
    }
    if (done == 0) {
        workDetail = soundPath + QStringLiteral(": nothing in the range could be decoded");
        return err::InvalidSoundFile;
    }
    const int rate = source.outputRate();
    report.writtenMs = decode::framesToMs(done, rate);
    report.missingMs = decode::framesToMs(total - done, rate);
    report.concealedMs = decode::framesToMs(source.concealedFrames(), rate);
    report.damagedPackets = source.damagedPackets();
    return writer->finish();
}

SoundEditor::SoundEditor(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>(this)) {}
SoundEditor::~SoundEditor() = default;

// Events reach the owner through its own thread's event loop, so the editor needs
// nothing from the window.
int32_t SoundEditor::AttachWindow(QWidget*) { return err::Ok; }

OutputFormatSettings& SoundEditor::OutputFormat() { return impl_->format; }

int32_t SoundEditor::LastErrorCode() const { return impl_->lastError; }

const QString& SoundEditor::LastErrorDetail() const { return impl_->lastDetail; }

int32_t SoundEditor::OpenFile(const QString& path) {
    Impl& d = *impl_;
    if (d.busy) return d.refuse(err::EditorBusy);
    // A new load always replaces the sound, so a failed one leaves none.
    d.decoder.reset();
    d.soundPath.clear();
    std::error_code statusError;
    if (path.isEmpty() || !std::filesystem::is_regular_file(decode::fileSystemPath(path), statusError))
        return d.refuse(err::InvalidSoundFile, FileFailureText(path, decode::WhyNotReadable(path)));
    d.start([&d, path] { return d.load(path); },
            [](SoundEditor* editor, int32_t result) { emit editor->LoadCompleted(result); });
    return err::Ok;
}

int32_t SoundEditor::CropToRange(int32_t beginMs, int32_t endMs) {
    Impl& d = *impl_;
    if (d.busy) return d.refuse(err::EditorBusy);
    if (!d.decoder) return d.refuse(err::EditorEmpty);
    d.start([&d, beginMs, endMs] { return d.crop(beginMs, endMs); },
            [](SoundEditor* editor, int32_t result) { emit editor->CropCompleted(result, 0); });
    return err::Ok;
}

int32_t SoundEditor::ExportFile(int32_t sampleRate, int32_t channels, int32_t, int32_t, int32_t,
                                const QString& outputPath) {
    Impl& d = *impl_;
    if (d.busy) return d.refuse(err::EditorBusy);
    if (!d.decoder) return d.refuse(err::EditorEmpty);
    if (d.selection.empty) return d.refuse(err::NoSelection, d.emptySelectionReason);
    if (sampleRate < kMinExportRate || sampleRate > kMaxExportRate || channels < 1 || channels > 2)
        return d.refuse(err::InvalidExportSettings);
    d.report = {};
    soundeditor::Encoding encoding;
    if (const int32_t chosen = soundeditor::chooseEncoding(d.format, outputPath, channels, &encoding);
        chosen != err::Ok) {
        if (chosen == err::NotAvailableForFormat)
            d.report.reason = QStringLiteral("an MP3 keeps its encoding only as .mp3, AAC only as .m4a, .m4r or .mp4");
        return d.refuse(chosen);
    }
    if (!encoding.keepSourceEncoding && !avcodec_find_encoder_by_name(encoding.codec))
        return d.refuse(err::EncoderNotAvailable);
    if (outputPath.isEmpty()) return d.refuse(err::FileCreationFailed);
    soundeditor::OutputPlan plan;
    QString refusal;
    if (const int32_t planned = soundeditor::planOutput(outputPath, d.soundPath,
                                                        soundeditor::needsSeekableOutput(encoding), &plan, &refusal);
        planned != err::Ok)
        return d.refuse(planned, refusal);
    d.start([&d, sampleRate, channels, encoding, plan] {
        return d.exportRange(sampleRate, channels, encoding, plan);
    }, [](SoundEditor* editor, int32_t result) { emit editor->ExportCompleted(result); });
    return err::Ok;
}

void SoundEditor::Cancel() { impl_->cancelRequested = true; }

const ExportReport& SoundEditor::LastExportReport() const { return impl_->report; }

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
