// clipwren-cut: the cut of Clipwren Pro's "Save selection" without the window.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <dlfcn.h>
#include <mutex>

#include "CutBatch.h"
#include "CutCommandLine.h"
#include "CutEngine.h"
#include "CutCommand.h"
#include "components/soundeditor/CutPipeline.h"
#include "core/InterruptNotifier.h"

using namespace clipwren::cut;

namespace {
constexpr int kCutFailed = 1;
constexpr int kUsageError = 2;

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

// The cut module beside the program (the build tree) or where it is installed.
MakeCutFunction findCutEngine(QString* error) {
    const QDir programFolder(QCoreApplication::applicationDirPath());
    for (const QString& folder : {programFolder.path(), programFolder.filePath(QStringLiteral(CLIPWREN_ENGINE_DIR))}) {
        const QString path = QDir(folder).filePath(QStringLiteral(CLIPWREN_ENGINE_FILE));
        if (!QFileInfo::exists(path)) continue;
        // Kept loaded until the process ends.
        void* module = dlopen(QFile::encodeName(path).constData(), RTLD_LAZY | RTLD_LOCAL);
        if (!module) {
            *error = QString::fromLocal8Bit(dlerror());
            return nullptr;
        }
        if (auto* run = reinterpret_cast<MakeCutFunction>(dlsym(module, "clipwren_make_cut"))) return run;
        *error = QStringLiteral("%1 has no cut in it.").arg(path);
        return nullptr;
    }
    *error = QStringLiteral("The cut module %1 is missing.").arg(QStringLiteral(CLIPWREN_ENGINE_FILE));
    return nullptr;
}

// Looked for once, by whichever cut needs it first.
MakeCutFunction loadCutEngine(QString* error) {
    static std::once_flag looked;
    static MakeCutFunction engine = nullptr;
    static QString whyNot;
    std::call_once(looked, [] { engine = findCutEngine(&whyNot); });
    *error = whyNot;
    return engine;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const CommandLine commandLine = parseCommandLine(argumentsOf(argc, argv));
    switch (commandLine.action) {
        case CommandLine::Action::Help: print(stdout, helpText()); return 0;
        case CommandLine::Action::Version: print(stdout, versionText()); return 0;
        case CommandLine::Action::UsageError:
            print(stderr, QStringLiteral("clipwren-cut: %1\nTry 'clipwren-cut --help'.\n").arg(commandLine.error));
            return kUsageError;
        case CommandLine::Action::Batch: return runBatch(commandLine.batch, &loadCutEngine);
        case CommandLine::Action::Cut: break;
    }
    // SIGINT, SIGTERM and SIGHUP stop the cut, which removes what it had written.
    clipwren::InterruptNotifier interrupts;
    std::atomic<int> interruptSignal{0};
    QObject::connect(&interrupts, &clipwren::InterruptNotifier::interrupted, [&interruptSignal](int signalNumber) {
        int none = 0;
        interruptSignal.compare_exchange_strong(none, signalNumber);
    });
    // An MP3 copy is made here (without a bar: the cut may yet be handed on); anything
    // else needs the codecs of the cut module.
    clipwren::soundeditor::CutPipeline withoutCodecs(nullptr);
    if (const std::optional<CutOutcome> copied = makeCut(commandLine.request, withoutCodecs, interruptSignal, nullptr))
        return tell(*copied);
    QString error;
    const MakeCutFunction makeCutWithCodecs = loadCutEngine(&error);
    if (!makeCutWithCodecs) {
        print(stderr, QStringLiteral("clipwren-cut: %1\n").arg(error));
        return kCutFailed;
    }
    CutOutcome outcome;
    makeCutWithCodecs(commandLine.request, &interruptSignal, stderr, &outcome);
    return tell(outcome);
}
