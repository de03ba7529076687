// clipwren-cut: the cut of Clipwren Pro's "Save selection" without the window.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

extern "C" {
#include <libavutil/log.h>
}

#include "CutCommandLine.h"
#include "CutRunner.h"
#include "InterruptNotifier.h"
#include "TerminalProgress.h"

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

    TerminalProgress progress(stderr);
    CutRunner runner(commandLine.request, [&progress](Phase phase, int percent) { progress.show(phase, percent); });
    InterruptNotifier interrupts;
    int interruptSignal = 0;
    QObject::connect(&interrupts, &InterruptNotifier::interrupted, &runner, [&](int signalNumber) {
        if (interruptSignal == 0) interruptSignal = signalNumber;
        runner.cancel();
    });
    QObject::connect(&runner, &CutRunner::finished, &app, [&](bool success, const QString& message) {
        progress.finish();
        if (success) return app.exit(0);
        print(stderr, QStringLiteral("clipwren-cut: %1\n").arg(message));
        app.exit(interruptSignal != 0 ? 128 + interruptSignal : kCutFailed);
    });
    // Started from the event loop, so that even a failure at once ends it.
    QTimer::singleShot(0, &runner, &CutRunner::start);
    return app.exec();
}
