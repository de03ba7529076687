#include "CutEngine.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "TerminalProgress.h"
#include "components/soundeditor/SoundEditor.h"
#include "core/CutJob.h"
#include "core/InterruptNotifier.h"

using namespace clipwren;
using namespace clipwren::cut;

namespace {
constexpr int kCutFailed = 1;

void say(const QString& text) { std::fprintf(stderr, "clipwren-cut: %s\n", text.toLocal8Bit().constData()); }

// FFmpeg's warnings and errors of a run without --verbose, held back: an encoder's notes
// and a decoder's complaints about damage (which the cut's own warning sums up) are no
// news when the file was written; they help when the cut fails. A damaged file gives
// one line per bad packet, so only the last ones are kept.
class HeldFfmpegLog {
public:
    static void install() { av_log_set_callback(&HeldFfmpegLog::hold); }
    static void print() {
        std::lock_guard lock(mutex_);
        for (const std::string& line : lines_) std::fputs(line.c_str(), stderr);
        lines_.clear();
    }

private:
    static constexpr size_t kKeptLines = 20;
    static void hold(void* context, int level, const char* format, va_list args) {
        if (level > AV_LOG_WARNING) return;
        char line[1024];
        int printPrefix = 1;
        av_log_format_line2(context, level, format, args, line, sizeof line, &printPrefix);
        std::lock_guard lock(mutex_);
        lines_.emplace_back(line);
        if (lines_.size() > kKeptLines) lines_.pop_front();
    }
    static inline std::mutex mutex_;
    static inline std::deque<std::string> lines_;
};

}  // namespace

extern "C" int clipwren_run_cut(const CutRequest& request) {
    // With --verbose FFmpeg says all it has to say as it goes, a run of identical lines
    // once with its count.
    av_log_set_flags(AV_LOG_SKIP_REPEATED);
    if (!request.verbose) HeldFfmpegLog::install();
    SoundEditor editor;
    editor.AttachWindow(nullptr);
    CutJob job(editor);
    TerminalProgress progress(stderr);
    QObject::connect(&job, &CutJob::progress, &job,
                     [&progress](CutJob::Phase phase, int percent) { progress.show(phase, percent); });
    InterruptNotifier interrupts;
    int interruptSignal = 0;
    QObject::connect(&interrupts, &InterruptNotifier::interrupted, &job, [&](int signalNumber) {
        if (interruptSignal == 0) interruptSignal = signalNumber;
        job.cancel();
    });
    QObject::connect(&job, &CutJob::finished, &job, [&](const CutJob::Result& result) {
        progress.finish();
        const ExportReport& report = editor.LastExportReport();
        if (result.succeeded()) {
            if (request.verbose)
                say(report.copied ? QStringLiteral("copied without encoding again")
                                  : QStringLiteral("encoded anew: %1").arg(report.reason));
            // An export that succeeded but not as asked (the sound ended early, or
            // damaged audio became silence) is said as warnings.
            for (const QString& shortfall : report.shortfalls()) say(QStringLiteral("warning: ") + shortfall);
            return QCoreApplication::exit(0);
        }
        // The failure and the editor's text for it on one line, or why the source's
        // encoding could not be kept when that was asked; the file and the system's
        // reason, where the window shows them, on the next.
        HeldFfmpegLog::print();
        const QStringList lines = result.message.split(QStringLiteral("\r\n"));
        QStringList said{lines.mid(0, 2).join(QLatin1Char(' ')).trimmed()};
        if (request.keepEncoding && !report.reason.isEmpty() && interruptSignal == 0)
            said[0] = QStringLiteral("--copy: the source's encoding cannot be kept: %1.").arg(report.reason);
        said << lines.mid(2);
        for (const QString& line : said) say(line);
        QCoreApplication::exit(interruptSignal != 0 ? 128 + interruptSignal : kCutFailed);
    });
    CutJob::Plan plan = CutJob::fixedPlan(request.input, {request.beginMs, request.endMs}, request.output);
    plan.copy = request.keepEncoding ? CutJob::Plan::Copy::Always
              : request.encodeAnew   ? CutJob::Plan::Copy::Never
                                     : CutJob::Plan::Copy::WhereAlike;
    job.start(std::move(plan));
    return QCoreApplication::exec();
}
