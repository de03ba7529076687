#include "CutToolProcess.h"

#include <QDir>
#include <QProcess>
#include <unistd.h>

namespace cuttooltest {

namespace {
constexpr const char* kUnprivilegedId = "65534";  // nobody
}

QString cutToolPath() { return QStringLiteral(CLIPWREN_CUT_PATH); }

CutRun runCut(const QStringList& args, const CutOptions& options) {
    QProcess process;
    if (options.unprivileged && geteuid() == 0) {
        process.setProgram(QStringLiteral("setpriv"));
        process.setArguments(QStringList{"--reuid", kUnprivilegedId, "--regid", kUnprivilegedId, "--clear-groups",
                                         cutToolPath()} + args);
    } else {
        process.setProgram(cutToolPath());
        process.setArguments(args);
    }
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    CutRun run;
    if (!process.waitForStarted(-1)) return run;
    if (!process.waitForFinished(options.timeoutMs)) {
        run.timedOut = true;
        process.kill();
        process.waitForFinished(-1);
    }
    run.crashed = !run.timedOut && process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QStringList entriesOf(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

}  // namespace cuttooltest
