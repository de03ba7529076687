#pragma once
// Runs the clipwren-cut executable the way a user or a script would, and looks at
// what it leaves in a folder.
#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace cuttooltest {

struct CutRun {
    int exitCode = -1;
    bool crashed = false;   // ended by a signal it did not handle
    bool timedOut = false;  // killed after the time-out: a hang
    QByteArray out;
    QByteArray err;
    bool succeeded() const { return !crashed && !timedOut && exitCode == 0; }
};

struct CutOptions {
    // Run as an unprivileged user, so that file permissions apply even under root.
    bool unprivileged = false;
    int timeoutMs = 180000;
};

QString cutToolPath();
CutRun runCut(const QStringList& args, const CutOptions& options = {});
// The same with each argument's bytes as they are, so that file names that are not
// valid UTF-8 reach the program (QProcess would pass U+FFFD in their place).
CutRun runCutWithRawArguments(const QList<QByteArray>& args);

// Everything in a folder, hidden entries included: temporary files count as leftovers.
QStringList entriesOf(const QString& folder);

}  // namespace cuttooltest
