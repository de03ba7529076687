#include "CutToolProcess.h"

#include <QProcess>
#include <filesystem>

#include "components/files/LocalFileName.h"
#include <unistd.h>

namespace cuttooltest {

QString cutToolPath() { return QStringLiteral(CLIPWREN_CUT_PATH); }

namespace {
constexpr const char* kUnprivilegedId = "65534";  // nobody

CutRun runProcess(const QString& program, const QStringList& args, int timeoutMs) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(args);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    CutRun run;
    if (!process.waitForStarted(-1)) return run;
    if (!process.waitForFinished(timeoutMs)) {
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

}  // namespace

CutRun runCut(const QStringList& args, const CutOptions& options) {
    if (options.unprivileged && geteuid() == 0)
        return runProcess(QStringLiteral("setpriv"),
                          QStringList{"--reuid", kUnprivilegedId, "--regid", kUnprivilegedId, "--clear-groups",
                                      cutToolPath()} + args,
                          options.timeoutMs);
    return runProcess(cutToolPath(), args, options.timeoutMs);
}

CutRun runCutWithRawArguments(const QList<QByteArray>& args) {
    // A shell makes the bytes: each argument travels as printf %b text in plain ASCII.
    QString script = QStringLiteral("exec \"$0\"");
    for (const QByteArray& arg : args) {
        QString escaped;
        for (const char c : arg) {
            const uchar byte = uchar(c);
            if (byte >= 0x20 && byte < 0x7f && c != '\\' && c != '\'')
                escaped += QLatin1Char(c);
            else
                escaped += QStringLiteral("\\0%1").arg(byte, 3, 8, QLatin1Char('0'));
        }
        script += QStringLiteral(" \"$(printf %b '%1')\"").arg(escaped);
    }
    return runProcess(QStringLiteral("sh"), QStringList{"-c", script, cutToolPath()}, CutOptions{}.timeoutMs);
}

QStringList entriesOf(const QString& folder) {
    // Read byte by byte: QDir leaves out names that are not valid UTF-8.
    QStringList names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(clipwren::files::fileSystemPath(folder), error))
        names << clipwren::files::decodeFileName(QByteArray::fromStdString(entry.path().filename().native()));
    names.sort();
    return names;
}

}  // namespace cuttooltest
