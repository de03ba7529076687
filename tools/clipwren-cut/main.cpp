// clipwren-cut: the cut of Clipwren Pro's "Save selection" without the window.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <dlfcn.h>

#include "CutBatch.h"
#include "CutCommandLine.h"
#include "CutEngine.h"
#include "CutCommand.h"
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
RunCutFunction loadCutEngine(QString* error) {
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
        if (auto* run = reinterpret_cast<RunCutFunction>(dlsym(module, "clipwren_run_cut"))) return run;
        *error = QStringLiteral("%1 has no cut in it.").arg(path);
        return nullptr;
    }
    *error = QStringLiteral("The cut module %1 is missing.").arg(QStringLiteral(CLIPWREN_ENGINE_FILE));
    return nullptr;
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
        case CommandLine::Action::Batch: return runBatch(commandLine.batch);
        case CommandLine::Action::Cut: break;
    }
    // SIGINT, SIGTERM and SIGHUP stop the cut, which removes what it had written.
    clipwren::InterruptNotifier interrupts;
    int interruptSignal = 0;
    QObject::connect(&interrupts, &clipwren::InterruptNotifier::interrupted, [&interruptSignal](int signalNumber) {
        if (interruptSignal == 0) interruptSignal = signalNumber;
    });
    // An MP3 copy is made here; anything else needs the codecs of the cut module.
    if (const std::optional<int> status = runCutCommand(commandLine.request, nullptr, &interruptSignal))
        return *status;
    QString error;
    const RunCutFunction runCut = loadCutEngine(&error);
    if (!runCut) {
        print(stderr, QStringLiteral("clipwren-cut: %1\n").arg(error));
        return kCutFailed;
    }
    return runCut(commandLine.request, &interruptSignal);
}
