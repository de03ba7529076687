// A stand-in for the desktop's real-time broker (rtkit) on a bus of the tests' own. It
// grants what rtkit grants, within rtkit's default limits: real-time scheduling up to
// its maximum priority, to a process whose real-time threads may not run longer than
// its limit without sleeping; a nice level down to its minimum. Or, with --refuse, it
// refuses every request. Each request is written to the log as one line:
// "<method> <pid> <thread> <priority> granted|refused". It says "on the bus" once it is.
//
//   fake-realtime-broker BUS-ADDRESS LOG-FILE [--refuse]
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QTextStream>

#include <sched.h>
#include <sys/resource.h>

namespace {

// rtkit's defaults.
constexpr int kMaxRealtimePriority = 20;
constexpr int kMinNiceLevel = -15;
constexpr qlonglong kRTTimeUSecMax = 200000;

// A process's hard limit on the processor time its real-time threads may take without
// sleeping, in microseconds; -1 where it has none or cannot be read.
qlonglong realtimeLimitUs(qulonglong pid) {
    QFile limits(QStringLiteral("/proc/%1/limits").arg(pid));
    if (!limits.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : limits.readAll().split('\n')) {
        if (!line.startsWith("Max realtime timeout")) continue;
        const QList<QByteArray> fields = line.mid(20).simplified().split(' ');
        bool ok = false;
        const qlonglong hard = fields.size() > 1 ? fields[1].toLongLong(&ok) : -1;
        return ok ? hard : -1;
    }
    return -1;
}

class Broker : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")
    Q_PROPERTY(int MaxRealtimePriority READ maxRealtimePriority)
    Q_PROPERTY(int MinNiceLevel READ minNiceLevel)
    Q_PROPERTY(qlonglong RTTimeUSecMax READ rtTimeUSecMax)

public:
    Broker(const QString& logFile, bool refuse) : log_(logFile), refuse_(refuse) {
        log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    }
    int maxRealtimePriority() const { return kMaxRealtimePriority; }
    int minNiceLevel() const { return kMinNiceLevel; }
    qlonglong rtTimeUSecMax() const { return kRTTimeUSecMax; }

public slots:
    void MakeThreadRealtime(qulonglong thread, uint priority) {
        makeRealtime("MakeThreadRealtime", callerPid(), thread, priority);
    }
    void MakeThreadRealtimeWithPID(qulonglong pid, qulonglong thread, uint priority) {
        makeRealtime("MakeThreadRealtimeWithPID", pid, thread, priority);
    }
    void MakeThreadHighPriority(qulonglong thread, int priority) {
        makeHighPriority("MakeThreadHighPriority", callerPid(), thread, priority);
    }
    void MakeThreadHighPriorityWithPID(qulonglong pid, qulonglong thread, int priority) {
        makeHighPriority("MakeThreadHighPriorityWithPID", pid, thread, priority);
    }

private:
    qulonglong callerPid() const { return connection().interface()->servicePid(message().service()).value(); }

    static bool ownThread(qulonglong pid, qulonglong thread) {
        return QDir(QStringLiteral("/proc/%1/task/%2").arg(pid).arg(thread)).exists();
    }

    void makeRealtime(const char* method, qulonglong pid, qulonglong thread, uint priority) {
        const qlonglong limit = realtimeLimitUs(pid);
        sched_param param{};
        param.sched_priority = int(priority);
        const bool granted = !refuse_ && ownThread(pid, thread) && priority >= 1 &&
                             int(priority) <= kMaxRealtimePriority && limit >= 0 && limit <= kRTTimeUSecMax &&
                             sched_setscheduler(pid_t(thread), SCHED_RR | SCHED_RESET_ON_FORK, &param) == 0;
        answer(method, pid, thread, int(priority), granted);
    }

    void makeHighPriority(const char* method, qulonglong pid, qulonglong thread, int priority) {
        const bool granted = !refuse_ && ownThread(pid, thread) && priority >= kMinNiceLevel &&
                             setpriority(PRIO_PROCESS, id_t(thread), priority) == 0;
        answer(method, pid, thread, priority, granted);
    }

    void answer(const char* method, qulonglong pid, qulonglong thread, int priority, bool granted) {
        QTextStream(&log_) << method << ' ' << pid << ' ' << thread << ' ' << priority << ' '
                           << (granted ? "granted" : "refused") << '\n';
        if (!granted) sendErrorReply(QDBusError::AccessDenied, QStringLiteral("refused"));
    }

    QFile log_;
    bool refuse_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 3) return 2;
    QDBusConnection bus = QDBusConnection::connectToBus(arguments[1], QStringLiteral("broker"));
    Broker broker(arguments[2], arguments.contains(QStringLiteral("--refuse")));
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/RealtimeKit1"), &broker,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.freedesktop.RealtimeKit1")))
        return 1;
    QTextStream(stdout) << "on the bus" << Qt::endl;
    return application.exec();
}

#include "FakeRealtimeBroker.moc"
