#include "components/soundeditor/SoundEditor.h"

#include "components/decode/AudioDecoder.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/EncodedFileWriter.h"
#include "components/soundeditor/FormatTable.h"
#include "components/soundeditor/PendingOutputFile.h"

#include <QFileInfo>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace clipwren {

namespace {

// The program exports at 44100 Hz stereo; loading opens the decoder for that output
// so an export with these settings reuses it.
constexpr int kWorkingRate = 44100;
constexpr int kWorkingChannels = 2;
constexpr int kMinExportRate = 8000;
constexpr int kMaxExportRate = 192000;
constexpr int64_t kChunkFrames = 8192;
// A cancelled operation completes with this code.
constexpr int32_t kCancelled = err::UnknownError;

// The part of the loaded sound the editor holds, in milliseconds of the source;
// frames are worked out only at export, at the export's own rate.
struct Selection {
    int64_t beginMs = 0;
    std::optional<int64_t> endMs;  // none: up to the end of the sound
    bool empty = false;
};

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
    bool busy = false;  // owner's thread only; cleared when the completion is delivered

    // The loaded sound: the worker touches it only while busy, the owner's thread only
    // while not, so it needs no lock.
    std::unique_ptr<decode::AudioDecoder> decoder;
    QString soundPath;
    Selection selection;

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

    int32_t refuse(int32_t code) { return lastError = code; }

    void start(std::function<int32_t()> work, void (*emitCompleted)(SoundEditor*, int32_t)) {
        busy = true;
        cancelRequested = false;
        lastError = err::Ok;
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
        post([this, emitCompleted, result] {
            busy = false;
            lastError = result;
            emitCompleted(owner, result);
        });
    }

    int32_t load(const QString& path);
    int32_t crop(int64_t beginMs, int64_t endMs);
    int32_t exportRange(int sampleRate, int channels, const soundeditor::Encoding& encoding, const QString& outputPath);
    int32_t writeRange(decode::AudioDecoder& source, int64_t beginFrame, int64_t endFrame,
                       const soundeditor::Encoding& encoding, const QString& outputPath);
};

int32_t SoundEditor::Impl::load(const QString& path) {
    post([this] { emit owner->LoadProgress(0); });
    int32_t result = err::Ok;
    auto opened = decode::AudioDecoder::open(path, kWorkingRate, kWorkingChannels, &result);
    if (opened && opened->lengthFrames() <= 0) result = err::InvalidSoundFile;
    if (result == err::Ok && cancelRequested) result = kCancelled;
    if (result == err::Ok) {
        decoder = std::move(opened);
        soundPath = path;
        selection = {};
        post([this] { emit owner->LoadProgress(100); });
    }
    return result;
}

int32_t SoundEditor::Impl::crop(int64_t beginMs, int64_t endMs) {
    post([this] { emit owner->CropProgress(0, 0); });
    // The new range counts from the start of the piece held so far.
    const int64_t pieceEndMs = selection.endMs.value_or(decoder->lengthMs());
    const int64_t pieceLengthMs = pieceEndMs - selection.beginMs;
    beginMs = std::max<int64_t>(beginMs, 0);
    Selection cropped;
    cropped.beginMs = selection.beginMs + beginMs;
    cropped.endMs = endMs >= pieceLengthMs ? selection.endMs : std::optional<int64_t>(selection.beginMs + endMs);
    cropped.empty = selection.empty || endMs <= beginMs || beginMs >= pieceLengthMs;
    selection = cropped;
    int32_t result = err::Ok;
    // Seeking decodes from before the begin mark up to it, so an unreachable begin
    // shows up now rather than at export.
    if (!selection.empty) result = decoder->seek(decode::msToFrames(selection.beginMs, decoder->outputRate()));
    if (result == err::Ok) post([this] { emit owner->CropProgress(0, 100); });
    return result;
}

int32_t SoundEditor::Impl::exportRange(int sampleRate, int channels, const soundeditor::Encoding& encoding,
                                    const QString& outputPath) {
    post([this] { emit owner->ExportProgress(0); });
    int32_t result = err::Ok;
    std::unique_ptr<decode::AudioDecoder> otherFormat;
    decode::AudioDecoder* source = decoder.get();
    if (decoder->outputRate() != sampleRate || decoder->outputChannels() != channels) {
        otherFormat = decode::AudioDecoder::open(soundPath, sampleRate, channels, &result);
        source = otherFormat.get();
    }
    if (source) {
        const int64_t length = source->lengthFrames();
        const int64_t beginFrame = std::min(decode::msToFrames(selection.beginMs, sampleRate), length);
        const int64_t endFrame =
            selection.endMs ? std::min(decode::msToFrames(*selection.endMs, sampleRate), length) : length;
        result = endFrame > beginFrame ? writeRange(*source, beginFrame, endFrame, encoding, outputPath)
                                       : err::NoSelection;
    }
    return result;
}

int32_t SoundEditor::Impl::writeRange(decode::AudioDecoder& source, int64_t beginFrame, int64_t endFrame,
                                      const soundeditor::Encoding& encoding, const QString& outputPath) {
    int32_t result = source.seek(beginFrame);
    if (result != err::Ok) return result;
    soundeditor::PendingOutputFile output(outputPath);
    if ((result = output.create()) != err::Ok) return result;
    const int channels = source.outputChannels();
    auto writer =
        soundeditor::EncodedFileWriter::open(output.temporaryPath(), encoding, source.outputRate(), channels, &result);
    if (!writer) return result;

    PercentSteps progress([this](int percent) { post([this, percent] { emit owner->ExportProgress(percent); }); });
    std::vector<float> chunk(size_t(kChunkFrames * channels));
    const int64_t total = endFrame - beginFrame;
    int64_t done = 0;
    while (done < total) {
        if (cancelRequested) return kCancelled;
        const int64_t got = source.read(chunk.data(), std::min(kChunkFrames, total - done));
        if (got < 0) return int32_t(got);
        if (got == 0) break;  // a file damaged part-way ends early
        if ((result = writer->write(chunk.data(), got)) != err::Ok) return result;
        done += got;
        progress.update(done, total);
    }
    if ((result = writer->finish()) != err::Ok) return result;
    writer.reset();
    if (cancelRequested) return kCancelled;
    if ((result = output.commit()) != err::Ok) return result;
    progress.update(total, total);
    return err::Ok;
}

SoundEditor::SoundEditor(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>(this)) {}
SoundEditor::~SoundEditor() = default;

// Events reach the owner through its own thread's event loop, so the editor needs
// nothing from the window.
int32_t SoundEditor::AttachWindow(QWidget*) { return err::Ok; }

OutputFormatSettings& SoundEditor::OutputFormat() { return impl_->format; }

int32_t SoundEditor::LastErrorCode() const { return impl_->lastError; }

int32_t SoundEditor::OpenFile(const QString& path) {
    Impl& d = *impl_;
    if (d.busy) return d.refuse(err::EditorBusy);
    // A new load always replaces the sound, so a failed one leaves none.
    d.decoder.reset();
    d.soundPath.clear();
    if (path.isEmpty() || !QFileInfo(path).isFile()) return d.refuse(err::InvalidSoundFile);
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
    if (d.selection.empty) return d.refuse(err::NoSelection);
    if (sampleRate < kMinExportRate || sampleRate > kMaxExportRate || channels < 1 || channels > 2)
        return d.refuse(err::InvalidExportSettings);
    soundeditor::Encoding encoding;
    if (const int32_t chosen = soundeditor::chooseEncoding(d.format, outputPath, channels, &encoding);
        chosen != err::Ok)
        return d.refuse(chosen);
    if (!avcodec_find_encoder_by_name(encoding.codec)) return d.refuse(err::EncoderNotAvailable);
    if (outputPath.isEmpty()) return d.refuse(err::FileCreationFailed);
    d.start([&d, sampleRate, channels, encoding, outputPath] {
        return d.exportRange(sampleRate, channels, encoding, outputPath);
    }, [](SoundEditor* editor, int32_t result) { emit editor->ExportCompleted(result); });
    return err::Ok;
}

void SoundEditor::Cancel() { impl_->cancelRequested = true; }

}  // namespace clipwren
