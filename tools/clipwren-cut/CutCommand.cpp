#include "CutCommand.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

#include "TerminalProgress.h"
#include "components/soundeditor/CutPipeline.h"
#include "components/soundeditor/OutputFormatForPath.h"

namespace clipwren::cut {

namespace {
constexpr int kCutFailed = 1;

void say(const QString& text) { std::fprintf(stderr, "clipwren-cut: %s\n", text.toLocal8Bit().constData()); }
}  // namespace

std::optional<int> runCutCommand(const CutRequest& request, const soundeditor::Codecs* codecs,
                                 const int* interruptSignal, void (*beforeFailure)()) {
    soundeditor::CutRequest cut;
    cut.input = request.input;
    cut.range = soundeditor::SampleRange::fromMs(request.beginMs, request.endMs);
    cut.output = request.output;
    cut.format = OutputFormatFor(request.output, request.keepEncoding ? CopyRule::Always
                                                 : request.encodeAnew ? CopyRule::Never
                                                                      : CopyRule::WhereAlike);
    // Without the codecs the cut may yet be handed on: no bar is drawn for it.
    TerminalProgress progress(codecs ? stderr : nullptr);
    soundeditor::CutHooks hooks;
    hooks.progress = [&progress](soundeditor::CutPhase phase, int percent) { progress.show(phase, percent); };
    hooks.cancelled = [interruptSignal] {
        QCoreApplication::processEvents();
        return *interruptSignal != 0;
    };
    const soundeditor::CutReport report = soundeditor::runCut(cut, codecs, hooks);
    progress.finish();
    if (report.needsCodecs) return std::nullopt;
    const ExportReport& exported = report.exported;
    if (report.succeeded()) {
        if (request.verbose)
            say(exported.copied ? QStringLiteral("copied without encoding again")
                                : QStringLiteral("encoded anew: %1").arg(exported.reason));
        // An export that succeeded but not as asked (the sound ended early, or damaged
        // audio became silence) is said as warnings.
        for (const QString& shortfall : exported.shortfalls()) say(QStringLiteral("warning: ") + shortfall);
        return 0;
    }
    if (beforeFailure) beforeFailure();
    if (*interruptSignal != 0) {
        say(QStringLiteral("Cancelled."));
        return 128 + *interruptSignal;
    }
    // The failure and the editor's text for it on one line, or why the source's encoding
    // could not be kept when that was asked; the file and the system's reason, where the
    // window shows them, on the next.
    const QStringList lines = report.message().split(QStringLiteral("\r\n"));
    QStringList said{lines.mid(0, 2).join(QLatin1Char(' ')).trimmed()};
    if (request.keepEncoding && !exported.reason.isEmpty())
        said[0] = QStringLiteral("--copy: the source's encoding cannot be kept: %1.").arg(exported.reason);
    said << lines.mid(2);
    for (const QString& line : said) say(line);
    return kCutFailed;
}

}  // namespace clipwren::cut
