#pragma once
// Drives the sound editor through one cut: load, crop, export, each step started
// from the completion event of the one before, exactly as the window's
// "Save selection" does.
#include <QObject>
#include <QString>
#include <functional>

#include "CutCommandLine.h"
#include "components/soundeditor/SoundEditor.h"

namespace clipwren::cut {

enum class Phase { Loading, Cropping, Exporting };

class CutRunner : public QObject {
    Q_OBJECT
public:
    using ProgressCallback = std::function<void(Phase, int percent)>;

    explicit CutRunner(CutRequest request, ProgressCallback progress = {}, QObject* parent = nullptr);

    // Starts the cut; finished() follows through the event loop.
    void start();
    // Stops the running step; finished() still follows, once the editor has cleaned up.
    void cancel();

signals:
    // message is empty on success, else the failure and the editor's description.
    void finished(bool success, const QString& message);

private:
    void onLoadCompleted(qint32 result);
    void onCropCompleted(qint32 result);
    void onExportCompleted(qint32 result);
    void fail(const char* what, int32_t code);
    void report(Phase phase, int percent) const;

    CutRequest request_;
    ProgressCallback progress_;
    SoundEditor editor_;
    bool cancelled_ = false;
};

}  // namespace clipwren::cut
