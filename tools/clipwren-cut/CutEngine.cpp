#include "CutEngine.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

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

}  // namespace

extern "C" int clipwren_run_cut(const CutRequest& request) {
    // The decoder's warnings tell the user where a damaged file stops being readable;
    // a run of identical ones is said once with its count.
    av_log_set_flags(AV_LOG_SKIP_REPEATED);
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
