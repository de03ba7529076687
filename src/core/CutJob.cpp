#include "core/CutJob.h"

#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/SoundEditor.h"

namespace clipwren {

CutJob::Plan CutJob::fixedPlan(const QString& input, CutRange range, const QString& output) {
    return Plan{input, output, [range] { return std::optional<CutRange>(range); }, [output] { return output; }};
}

CutJob::CutJob(SoundEditor& editor, QObject* parent) : QObject(parent), editor_(editor) {
    connect(&editor_, &SoundEditor::LoadProgress, this, [this](qint16 percent) {
        if (running_) emit progress(Phase::Loading, percent);
    });
    connect(&editor_, &SoundEditor::CropProgress, this, [this](qint32, qint16 percent) {
        if (running_) emit progress(Phase::Cropping, percent);
    });
    connect(&editor_, &SoundEditor::ExportProgress, this, [this](qint32 percent) {
        if (running_) emit progress(Phase::Exporting, percent);
    });
    // Queued, so that the next step starts once every other listener of the completion
    // (the window's status line) has had it.
    connect(
        &editor_, &SoundEditor::LoadCompleted, this,
        [this](qint32 result) {
            if (running_) onLoadCompleted(result);
        },
        Qt::QueuedConnection);
    connect(
        &editor_, &SoundEditor::CropCompleted, this,
        [this](qint32 result, qint32) {
            if (running_) onCropCompleted(result);
        },
        Qt::QueuedConnection);
    connect(
        &editor_, &SoundEditor::ExportCompleted, this,
        [this](qint32 result) {
            if (running_) onExportCompleted(result);
        },
        Qt::QueuedConnection);
}

void CutJob::start(Plan plan) {
    if (running_) return;
    plan_ = std::move(plan);
    running_ = true;
    cancelled_ = false;
    editor_.OutputFormat() = OutputFormatFor(plan_.formatPath, plan_.copy);
    editor_.SetPieceShaping(plan_.shaping);
    emit progress(Phase::Loading, 0);
    // The file is always loaded anew: the crop of an earlier cut does not carry over.
    if (editor_.OpenFile(plan_.input) != err::Ok) fail(Phase::Loading, editor_.LastErrorCode());
}

void CutJob::cancel() {
    if (!running_) return;
    cancelled_ = true;
    editor_.Cancel();
}

void CutJob::onLoadCompleted(int32_t result) {
    if (cancelled_ || result != err::Ok) return fail(Phase::Loading, result);
    emit progress(Phase::Cropping, 0);
    const std::optional<CutRange> range = plan_.range();
    if (!range) return finish({err::InvalidPosition, Phase::Cropping, QString()});
    // A crop that cannot start raises no completion event.
    if (editor_.CropToRange(range->beginMs, range->endMs) != err::Ok)
        fail(Phase::Cropping, editor_.LastErrorCode());
}

void CutJob::onCropCompleted(int32_t result) {
    if (cancelled_ || result != err::Ok) return fail(Phase::Cropping, result);
    emit progress(Phase::Exporting, 0);
    if (editor_.ExportFile(kExportRate, kExportChannels, 0, 0, -1, plan_.output()) != err::Ok)
        fail(Phase::Exporting, editor_.LastErrorCode());
}

void CutJob::onExportCompleted(int32_t result) {
    // A complete file is kept even when a cancel came too late to stop it.
    if (result != err::Ok) return fail(Phase::Exporting, result);
    emit progress(Phase::Exporting, 100);
    finish({err::Ok, Phase::Exporting, QString()});
}

void CutJob::fail(Phase phase, int32_t code) {
    if (code == err::Ok) code = err::UnknownError;  // a cancel that the editor finished anyway
    // With the file concerned and the system's reason, where a file had a part in the failure.
    soundeditor::CutReport report;
    report.failure = {code, editor_.LastErrorDetail()};
    report.phase = phase;
    finish({code, phase, cancelled_ ? QStringLiteral("Cancelled.") : report.message()});
}

void CutJob::finish(Result result) {
    // The report always comes through the event loop, also for a failure at once.
    QMetaObject::invokeMethod(
        this,
        [this, result] {
            running_ = false;
            emit finished(result);
        },
        Qt::QueuedConnection);
}

}  // namespace clipwren
