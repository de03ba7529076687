// clipwren-cut: the cut of Clipwren Pro's "Save selection" without the window.
#include <QCoreApplication>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

#include "CutCommandLine.h"
#include "InterruptNotifier.h"
#include "TerminalProgress.h"
#include "components/soundeditor/SoundEditor.h"
#include "core/CutJob.h"

using namespace clipwren;
using namespace clipwren::cut;

namespace {
constexpr int kCutFailed = 1;
constexpr int kUsageError = 2;

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The decoder's warnings tell the user where a damaged file stops being readable;
    // a run of identical ones is said once with its count.
    av_log_set_flags(AV_LOG_SKIP_REPEATED);
    const CommandLine commandLine = parseCommandLine(app.arguments());
    switch (commandLine.action) {
        case CommandLine::Action::Help: print(stdout, helpText()); return 0;
        case CommandLine::Action::Version: print(stdout, versionText()); return 0;
        case CommandLine::Action::UsageError:
            print(stderr, QStringLiteral("clipwren-cut: %1\nTry 'clipwren-cut --help'.\n").arg(commandLine.error));
            return kUsageError;
        case CommandLine::Action::Cut: break;
    }

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
    QObject::connect(&job, &CutJob::finished, &app, [&](const CutJob::Result& result) {
        progress.finish();
        if (result.succeeded()) return app.exit(0);
        // One line: the failure and the editor's text for it.
        const QString message = QString(result.message).replace(QStringLiteral("\r\n"), QStringLiteral(" ")).trimmed();
        print(stderr, QStringLiteral("clipwren-cut: %1\n").arg(message));
        app.exit(interruptSignal != 0 ? 128 + interruptSignal : kCutFailed);
    });
    const CutRequest& request = commandLine.request;
    job.start(CutJob::fixedPlan(request.input, {request.beginMs, request.endMs}, request.output));
    return app.exec();
}
