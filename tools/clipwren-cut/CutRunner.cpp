#include "CutRunner.h"

#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/OutputFormatForPath.h"

namespace clipwren::cut {

namespace {
const char* const kLoadFailed = "File could not be loaded.";
const char* const kExportFailed = "Export to file failed.";
const char* const kCancelled = "Cancelled.";
}  // namespace

CutRunner::CutRunner(CutRequest request, ProgressCallback progress, QObject* parent)
    : QObject(parent), request_(std::move(request)), progress_(std::move(progress)) {
    connect(&editor_, &SoundEditor::LoadProgress, this, [this](qint16 percent) { report(Phase::Loading, percent); });
    connect(&editor_, &SoundEditor::CropProgress, this,
            [this](qint32, qint16 percent) { report(Phase::Cropping, percent); });
    connect(&editor_, &SoundEditor::ExportProgress, this,
            [this](qint32 percent) { report(Phase::Exporting, percent); });
    connect(&editor_, &SoundEditor::LoadCompleted, this, &CutRunner::onLoadCompleted);
    connect(&editor_, &SoundEditor::CropCompleted, this, [this](qint32 result, qint32) { onCropCompleted(result); });
    connect(&editor_, &SoundEditor::ExportCompleted, this, &CutRunner::onExportCompleted);
}

void CutRunner::start() {
    editor_.AttachWindow(nullptr);
    SetOutputFormatForPath(editor_.OutputFormat(), request_.output);
    report(Phase::Loading, 0);
    if (editor_.OpenFile(request_.input) != err::Ok) fail(kLoadFailed, editor_.LastErrorCode());
}

void CutRunner::cancel() {
    cancelled_ = true;
    editor_.Cancel();
}

void CutRunner::onLoadCompleted(qint32 result) {
    if (cancelled_ || result != err::Ok) return fail(kLoadFailed, result);
    report(Phase::Cropping, 0);
    // A crop that cannot start raises no completion event.
    if (editor_.CropToRange(request_.beginMs, request_.endMs) != err::Ok)
        fail(kExportFailed, editor_.LastErrorCode());
}

void CutRunner::onCropCompleted(qint32 result) {
    if (cancelled_ || result != err::Ok) return fail(kExportFailed, result);
    report(Phase::Exporting, 0);
    if (editor_.ExportFile(44100, 2, 0, 0, -1, request_.output) != err::Ok)
        fail(kExportFailed, editor_.LastErrorCode());
}

void CutRunner::onExportCompleted(qint32 result) {
    // A complete file is kept even when an interruption came too late to stop it.
    if (result != err::Ok) return fail(kExportFailed, result);
    report(Phase::Exporting, 100);
    emit finished(true, QString());
}

void CutRunner::fail(const char* what, int32_t code) {
    if (cancelled_) {
        emit finished(false, QString::fromLatin1(kCancelled));
        return;
    }
    QString message = QString::fromLatin1(what);
    const QString description = GetErrorDescription(code);
    if (!description.isEmpty()) message += QLatin1Char(' ') + description;
    emit finished(false, message);
}

void CutRunner::report(Phase phase, int percent) const {
    if (progress_) progress_(phase, percent);
}

}  // namespace clipwren::cut
