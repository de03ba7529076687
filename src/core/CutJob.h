#pragma once
// One cut on a sound editor: load the file, crop it to a range, export it. Each step
// starts from the completion event of the one before; the job reports once, when the
// cut has ended, through the event loop and always after the call that started it
// has returned. The window's "Save selection" and the command-line cutter both cut
// through it.
#include "components/soundeditor/CutPipeline.h"
#include "components/soundeditor/OutputFormatForPath.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace clipwren {

class SoundEditor;

struct CutRange {
    int32_t beginMs = 0;
    int32_t endMs = 0;
};

class CutJob : public QObject {
    Q_OBJECT
public:
    using Phase = soundeditor::CutPhase;

    // The export settings of every cut: CD rate, stereo.
    static constexpr int32_t kExportRate = 44100;
    static constexpr int32_t kExportChannels = 2;

    struct Result {
        int32_t code = 0;  // 0, or the failure's error code
        Phase phase = Phase::Loading;  // the phase that failed
        // For the user: the failure, a line break (CR LF), the editor's text for the
        // code, and where a file had a part in it another line break and the file with
        // the system's reason. Empty on success, and when the range was refused (its
        // source has told the user why). "Cancelled." after cancel().
        QString message;
        bool succeeded() const { return code == 0; }
    };

    struct Plan {
        QString input;
        // The name whose extension chooses the encoding, read when the job starts.
        QString formatPath;
        // Asked when cropping starts, so marks set while the file loads count; no
        // range ends the job.
        std::function<std::optional<CutRange>()> range;
        // Asked when the export starts.
        std::function<QString()> output;
        CopyRule copy = CopyRule::WhereAlike;
        // The fades and loudness of the saved piece.
        processing::Shaping shaping = {};
    };
    // A plan whose range and output are known from the start.
    static Plan fixedPlan(const QString& input, CutRange range, const QString& output);

    explicit CutJob(SoundEditor& editor, QObject* parent = nullptr);

    // Writes the output encoding into the editor and starts loading; finished() follows.
    // Only one cut at a time: a start while running is ignored.
    void start(Plan plan);
    // Stops the running step; finished() still follows, once the editor has cleaned up.
    void cancel();
    bool running() const { return running_; }

signals:
    void progress(clipwren::CutJob::Phase phase, int percent);
    void finished(const clipwren::CutJob::Result& result);

private:
    void onLoadCompleted(int32_t result);
    void onCropCompleted(int32_t result);
    void onExportCompleted(int32_t result);
    void fail(Phase phase, int32_t code);
    void finish(Result result);

    SoundEditor& editor_;
    Plan plan_;
    bool running_ = false;
    bool cancelled_ = false;
};

}  // namespace clipwren
