#include "components/player/ThreadPriority.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <algorithm>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace clipwren::player {

namespace {
// Real-time priorities below the sound server's own threads (PulseAudio takes 5),
// above every ordinary thread; the output before the decoder.
constexpr int kOutputRealtime = 3;
constexpr int kDecodeRealtime = 2;
// Otherwise nice levels: the output at the one PulseAudio gives itself.
constexpr int kOutputNice = -11;
constexpr int kDecodeNice = -5;
// A desktop's real-time broker answers at once; a bus that does not must not hold up
// the thread that asked for long.
constexpr int kBrokerTimeoutMs = 1000;

const QString kBrokerService = QStringLiteral("org.freedesktop.RealtimeKit1");
const QString kBrokerPath = QStringLiteral("/org/freedesktop/RealtimeKit1");

// A property of the broker; nothing when it is not there.
std::optional<qlonglong> brokerProperty(const QDBusConnection& bus, const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(kBrokerService, kBrokerPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kBrokerService << name;
    const QDBusMessage reply = bus.call(get, QDBus::Block, kBrokerTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return std::nullopt;
    bool ok = false;
    const qlonglong value = qvariant_cast<QDBusVariant>(reply.arguments().first()).variant().toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// Where the system refuses real-time scheduling to a normal user, the desktop's broker
// (rtkit) grants it within its limits: a priority up to its maximum, and only to a
// process that limits the processor time its real-time threads may take without
// sleeping. False where there is no broker or it refuses; nothing is said either way.
bool realtimeFromBroker(const QDBusConnection& bus, int priority) {
    const auto maxPriority = brokerProperty(bus, QStringLiteral("MaxRealtimePriority"));
    const auto maxTimeUs = brokerProperty(bus, QStringLiteral("RTTimeUSecMax"));
    if (!maxPriority || !maxTimeUs || *maxPriority < 1 || *maxTimeUs <= 0) return false;
    rlimit limit{};
    if (getrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
    if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > rlim_t(*maxTimeUs)) {
        limit.rlim_cur = limit.rlim_max = rlim_t(*maxTimeUs);
        if (setrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
    }
    QDBusMessage ask = QDBusMessage::createMethodCall(kBrokerService, kBrokerPath, kBrokerService,
                                                      QStringLiteral("MakeThreadRealtime"));
    ask << qulonglong(gettid()) << uint(std::min<qlonglong>(priority, *maxPriority));
    return bus.call(ask, QDBus::Block, kBrokerTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

// The broker's other grant: a nice level down to its minimum.
void niceFromBroker(const QDBusConnection& bus, int nice) {
    const auto minNice = brokerProperty(bus, QStringLiteral("MinNiceLevel"));
    if (!minNice || *minNice >= 0) return;
    QDBusMessage ask = QDBusMessage::createMethodCall(kBrokerService, kBrokerPath, kBrokerService,
                                                      QStringLiteral("MakeThreadHighPriority"));
    ask << qulonglong(gettid()) << int(std::max<qlonglong>(nice, *minNice));
    bus.call(ask, QDBus::Block, kBrokerTimeoutMs);
}
}  // namespace

void raiseThreadPriority(ThreadRole role) {
    const bool output = role == ThreadRole::Output;
    sched_param param{};
    param.sched_priority = output ? kOutputRealtime : kDecodeRealtime;
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0) return;
    const int nice = output ? kOutputNice : kDecodeNice;
    const bool niced = setpriority(PRIO_PROCESS, id_t(gettid()), nice) == 0;
    if (niced && !output) return;
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;
    // Only the output from the broker: its real-time threads are killed (SIGXCPU) once
    // they run its processor-time limit (200 ms by default) without sleeping, and the
    // decoder may run that long at a stretch (a marked piece's loudness, a seek); the
    // output only ever hands over a period and sleeps.
    if (output && realtimeFromBroker(bus, kOutputRealtime)) return;
    if (!niced) niceFromBroker(bus, nice);
}

}  // namespace clipwren::player
