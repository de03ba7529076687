#include "CutCommand.h"

#include <QCoreApplication>
#include <QThread>

#include "TerminalProgress.h"
#include "components/soundeditor/CutPipeline.h"
#include "components/soundeditor/OutputFormatForPath.h"

namespace clipwren::cut {

namespace {
constexpr int kCutFailed = 1;
}  // namespace

std::optional<CutOutcome> makeCut(const CutRequest& request, soundeditor::CutPipeline& pipeline,
                                  const std::atomic<int>& interruptSignal, std::FILE* progressStream) {
    soundeditor::CutRequest cut;
    cut.input = request.input;
    cut.range = request.range;
    cut.output = request.output;
    cut.format = OutputFormatFor(request.output, request.keepEncoding ? CopyRule::Always
                                                 : request.encodeAnew ? CopyRule::Never
                                                                      : CopyRule::WhereAlike);
    cut.finish.shaping = request.shaping;
    cut.tags = request.tags;
    TerminalProgress progress(progressStream);
    soundeditor::CutHooks hooks;
    hooks.progress = [&progress](soundeditor::CutPhase phase, int percent) { progress.show(phase, percent); };
    const QCoreApplication* app = QCoreApplication::instance();
    const bool onMainThread = app && QThread::currentThread() == app->thread();
    hooks.cancelled = [&interruptSignal, onMainThread] {
        if (onMainThread) QCoreApplication::processEvents();
        return interruptSignal.load() != 0;
    };
    const soundeditor::CutReport report = soundeditor::runCut(pipeline, cut, hooks);
    progress.finish();
    if (report.needsCodecs) return std::nullopt;
    const ExportReport& exported = report.exported;
    CutOutcome outcome;
    if (report.succeeded()) {
        if (request.verbose) {
            outcome.messages << (exported.copied ? QStringLiteral("copied without encoding again")
                                                 : QStringLiteral("encoded anew: %1").arg(exported.reason));
            if (!exported.loudness.isEmpty()) outcome.messages << exported.loudness;
        }
        // An export that succeeded but not as asked (the sound ended early, or damaged
        // audio became silence) is said as warnings.
        for (const QString& shortfall : exported.shortfalls()) outcome.messages << QStringLiteral("warning: ") + shortfall;
        return outcome;
    }
    if (const int signalNumber = interruptSignal.load(); signalNumber != 0) {
        outcome.status = 128 + signalNumber;
        outcome.messages << QStringLiteral("Cancelled.");
        return outcome;
    }
    // The failure and the editor's text for it on one line, or why the source's encoding
    // could not be kept when that was asked; the file and the system's reason, where the
    // window shows them, on the next.
    const QStringList lines = report.message().split(QStringLiteral("\r\n"));
    outcome.status = kCutFailed;
    outcome.messages << lines.mid(0, 2).join(QLatin1Char(' ')).trimmed();
    if (request.keepEncoding && !exported.reason.isEmpty())
        outcome.messages[0] = QStringLiteral("--copy: the source's encoding cannot be kept: %1.").arg(exported.reason);
    outcome.messages << lines.mid(2);
    return outcome;
}

int tell(const CutOutcome& outcome) {
    for (const QString& line : outcome.libraryLines) std::fputs((line + '\n').toLocal8Bit().constData(), stderr);
    for (const QString& line : outcome.messages)
        std::fprintf(stderr, "clipwren-cut: %s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    return outcome.status;
}

}  // namespace clipwren::cut
