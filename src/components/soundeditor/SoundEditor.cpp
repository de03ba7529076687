#include "components/soundeditor/SoundEditor.h"

#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/CutPipeline.h"
#include "components/soundeditor/FfmpegCodecs.h"
#include "components/soundeditor/PendingOutputFile.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>

namespace clipwren {

namespace {

using soundeditor::CutPhase;

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
    soundeditor::Finish finish;
    Failure lastFailure;
    bool busy = false;  // owner's thread only; cleared when the completion is delivered

    // The loaded sound and its selection: the worker touches the pipeline only while
    // busy, the owner's thread only while not, so it needs no lock.
    soundeditor::FfmpegCodecs codecs;
    soundeditor::CutPipeline pipeline{&codecs};
    ExportReport report;  // written by the export, read once its completion has arrived

    // One background operation: its work, returning the failure its completion carries.
    struct Job {
        std::function<Failure()> work;
        void (*emitCompleted)(SoundEditor*, int32_t) = nullptr;
    };

    std::atomic<bool> cancelRequested{false};
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Job> job;
    bool stopping = false;
    std::thread worker;

    // The pipeline's progress as the editor's events.
    soundeditor::CutHooks hooks() {
        return {[this](CutPhase phase, int percent) {
                    post([this, phase, percent] {
                        switch (phase) {
                        case CutPhase::Loading: emit owner->LoadProgress(qint16(percent)); break;
                        case CutPhase::Cropping: emit owner->CropProgress(0, qint16(percent)); break;
                        case CutPhase::Exporting: emit owner->ExportProgress(percent); break;
                        }
                    });
                },
                [this] { return bool(cancelRequested); }};
    }

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
            Failure result{err::UnknownError};
            try {
                result = next.work();
            } catch (const std::bad_alloc&) {
                result = {err::NotEnoughMemory};
            } catch (...) {
            }
            complete(next.emitCompleted, std::move(result));
        }
    }

    int32_t refuse(Failure failure) {
        lastFailure = std::move(failure);
        return lastFailure.code;
    }

    void start(std::function<Failure()> work, void (*emitCompleted)(SoundEditor*, int32_t)) {
        busy = true;
        cancelRequested = false;
        lastFailure = {};
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
    void complete(void (*emitCompleted)(SoundEditor*, int32_t), Failure result) {
        post([this, emitCompleted, result = std::move(result)] {
            busy = false;
            lastFailure = result;
            emitCompleted(owner, result.code);
        });
    }
};

SoundEditor::SoundEditor(QObject* parent) : QObject(parent), impl_(std::make_unique<Impl>(this)) {}
SoundEditor::~SoundEditor() = default;

// Events reach the owner through its own thread's event loop, so the editor needs
// nothing from the window.
int32_t SoundEditor::AttachWindow(QWidget*) { return err::Ok; }

OutputFormatSettings& SoundEditor::OutputFormat() { return impl_->format; }

int32_t SoundEditor::LastErrorCode() const { return impl_->lastFailure.code; }

const QString& SoundEditor::LastErrorDetail() const { return impl_->lastFailure.detail; }

int32_t SoundEditor::OpenFile(const QString& path) {
    Impl& d = *impl_;
    if (d.busy) return d.refuse({err::EditorBusy});
    // A new load always replaces the sound, so a failed one leaves none.
    d.pipeline.unload();
    if (Failure refused = soundeditor::CutPipeline::checkInput(path); refused.failed())
        return d.refuse(std::move(refused));
    d.start([&d, path] { return d.pipeline.load(path, d.hooks()); },
            [](SoundEditor* editor, int32_t result) { emit editor->LoadCompleted(result); });
    return err::Ok;
}

int32_t SoundEditor::CropToRange(int32_t beginMs, int32_t endMs) {
    Impl& d = *impl_;
    if (d.busy) return d.refuse({err::EditorBusy});
    if (!d.pipeline.holdsSound()) return d.refuse({err::EditorEmpty});
    d.start([&d, beginMs, endMs] { return d.pipeline.crop(soundeditor::SampleRange::fromMs(beginMs, endMs), d.hooks()); },
            [](SoundEditor* editor, int32_t result) { emit editor->CropCompleted(result, 0); });
    return err::Ok;
}

int32_t SoundEditor::ExportFile(int32_t sampleRate, int32_t channels, int32_t, int32_t, int32_t,
                                const QString& outputPath) {
    Impl& d = *impl_;
    if (d.busy) return d.refuse({err::EditorBusy});
    soundeditor::ExportPlan plan;
    if (Failure refused = d.pipeline.planExport(d.format, sampleRate, channels, outputPath, d.finish, &plan,
                                                       &d.report);
        refused.failed())
        return d.refuse(std::move(refused));
    d.start([&d, plan] { return d.pipeline.exportTo(plan, d.hooks(), &d.report); },
            [](SoundEditor* editor, int32_t result) { emit editor->ExportCompleted(result); });
    return err::Ok;
}

void SoundEditor::SetPieceShaping(const processing::Shaping& shaping) { impl_->finish.shaping = shaping; }

void SoundEditor::Cancel() { impl_->cancelRequested = true; }

const ExportReport& SoundEditor::LastExportReport() const { return impl_->report; }

}  // namespace clipwren
