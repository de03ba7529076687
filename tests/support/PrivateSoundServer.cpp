#include "PrivateSoundServer.h"

#include "components/player/AudioOutput.h"

#include <grp.h>
#include <pipewire/pipewire.h>
#include <pulse/pulseaudio.h>
#include <pwd.h>
#include <spa/param/audio/format-utils.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <csignal>

namespace testsupport {

// The player's own clock: a recording's times and the player's reports are compared.
using clipwren::player::steadyNowNs;

namespace {

// How long a starting server may take to answer on a busy machine.
constexpr int kStartTimeoutMs = 20000;
// The recorder's fragments: short ones give many timing samples, and keep the null sink
// rendering only a few milliseconds ahead.
constexpr pa_usec_t kFragmentUs = 5000;
// Far below the two seconds a new null sink renders ahead: the sink has gone over to
// the recorder's low latency.
constexpr pa_usec_t kSettledLatencyUs = 20000;
// The null sink's initial two seconds, with room to spare.
constexpr int kSettleTimeoutMs = 5000;
// Whom a server runs as for a test run as root that wants a normal user's server.
constexpr char kUnprivilegedUser[] = "nobody";

}  // namespace

PrivateSoundServer::PrivateSoundServer(ServerSetup setup) : setup_(setup) { start(); }

PrivateSoundServer::~PrivateSoundServer() {
    for (auto process = processes_.rbegin(); process != processes_.rend(); ++process) {
        (*process)->terminate();
        if (!(*process)->waitForFinished(5000)) {
            (*process)->kill();
            (*process)->waitForFinished();
        }
    }
}

bool PrivateSoundServer::start() {
    processes_.clear();
    if (!dir_.isValid()) {
        failure_ = QStringLiteral("no temporary folder for the sound server");
        return false;
    }
    QDir(dir_.path()).mkpath(QStringLiteral("run"));
    if (asOtherUser()) {
        const passwd* user = getpwnam(kUnprivilegedUser);
        if (!user) {
            failure_ = QStringLiteral("no user %1 to run the sound server as").arg(kUnprivilegedUser);
            return false;
        }
        for (const QString& folder : {dir_.path(), dir_.filePath(QStringLiteral("run"))})
            if (chown(folder.toLocal8Bit().constData(), user->pw_uid, user->pw_gid) != 0) {
                failure_ = QStringLiteral("cannot hand %1 to %2").arg(folder, kUnprivilegedUser);
                return false;
            }
    }
    return startBroker() && (setup_.kind == ServerKind::PulseAudio ? startPulseAudio() : startPipeWire());
}

bool PrivateSoundServer::asOtherUser() const { return setup_.unprivileged && geteuid() == 0; }

bool PrivateSoundServer::launch(const QString& name, const QStringList& arguments, bool serverProgram) {
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty()) {
        failure_ = QStringLiteral("%1 is not installed (make test installs it)").arg(name);
        return false;
    }
    // Everything the server keeps goes to the temporary folder.
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    environment.insert(QStringLiteral("HOME"), dir_.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir_.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir_.filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("PULSE_STATE_PATH"), dir_.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + busPath());
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus());
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    const bool otherUser = serverProgram && asOtherUser();
    const passwd* user = otherUser ? getpwnam(kUnprivilegedUser) : nullptr;
    const uid_t uid = user ? user->pw_uid : 0;
    const gid_t gid = user ? user->pw_gid : 0;
    process->setChildProcessModifier([otherUser, uid, gid] {
        if (otherUser && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)) _exit(127);
        // It ends with the test, also when the test is killed (a time-out); set after the
        // change of user, which clears it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(program, arguments);
    if (!process->waitForStarted()) {
        failure_ = QStringLiteral("%1 did not start: %2").arg(name, process->errorString());
        return false;
    }
    processes_.push_back(std::move(process));
    return true;
}

bool PrivateSoundServer::answers(const QString& line) {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kStartTimeoutMs) {
        QProcess probe;
        probe.setProcessEnvironment(clientEnvironment());
        probe.start(QStringLiteral("pactl"), {QStringLiteral("info")});
        if (probe.waitForFinished() && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0 &&
            probe.readAllStandardOutput().contains(line.toUtf8()))
            return true;

        if (!running()) break;
        QThread::msleep(50);
    }
    failure_ = QStringLiteral("the sound server did not answer:");
    for (const auto& process : processes_) {
        // Their output is read only when waited for: nothing here runs an event loop.
        process->waitForReadyRead(100);
        failure_ += QLatin1Char('\n') + process->program() + QStringLiteral(": ") +
                    QString::fromLocal8Bit(process->readAll());
    }
    kill();
    return false;
}

namespace {
// Someone takes connections on a socket. A server killed, as a crash would, leaves its
// socket file behind: that it exists says nothing.
bool listens(const QString& path) {
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (size_t(name.size()) >= sizeof address.sun_path) {
        close(probe);
        return false;
    }
    std::copy(name.begin(), name.end(), address.sun_path);
    const bool connected = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return connected;
}
}  // namespace

bool PrivateSoundServer::listening(const QString& path) {
    QElapsedTimer waited;
    waited.start();
    while (!listens(path)) {
        if (waited.elapsed() > kStartTimeoutMs || !running()) return answers({});
        QThread::msleep(20);
    }
    return true;
}

bool PrivateSoundServer::startBroker() {
    // Anyone may connect, as to a system bus; the broker is the only service on it.
    QFile config(dir_.filePath(QStringLiteral("system-bus.conf")));
    if (!config.open(QIODevice::WriteOnly)) {
        failure_ = QStringLiteral("cannot write %1").arg(config.fileName());
        return false;
    }
    config.write(QStringLiteral("<busconfig><type>system</type><listen>%1</listen><auth>EXTERNAL</auth>\n"
                                "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>\n"
                                "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy></busconfig>\n")
                     .arg(systemBus())
                     .toUtf8());
    config.close();
    const QString systemBusSocket = systemBus().mid(int(strlen("unix:path=")));
    if (!launch(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                 QStringLiteral("--nopidfile")},
                false) ||
        !listening(systemBusSocket))
        return false;
    QStringList arguments{systemBus(), brokerLog()};
    if (setup_.brokerRefuses) arguments << QStringLiteral("--refuse");
    if (!launch(QStringLiteral(CLIPWREN_FAKE_BROKER), arguments, false)) return false;
    // The servers ask the broker as they start: it says when it is on the bus.
    if (processes_.back()->waitForReadyRead(kStartTimeoutMs)) return true;
    return answers({});
}

bool PrivateSoundServer::startPulseAudio() {
    // No configuration script: a null sink that never suspends, its monitor, and a socket
    // any local client may use. As root (CI, containers) PulseAudio warns that it is meant
    // for a user session, and runs.
    return launch(QStringLiteral("pulseaudio"),
                  {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                   QStringLiteral("--use-pid-file=no"), QStringLiteral("--disallow-exit=yes"),
                   QStringLiteral("--log-target=stderr"), QStringLiteral("-L"),
                   QStringLiteral("module-null-sink sink_name=%1 rate=%2 format=float32le channels=2")
                       .arg(sink())
                       .arg(kRate),
                   QStringLiteral("-L"),
                   QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=%1")
                       .arg(dir_.filePath(QStringLiteral("native")))}) &&
           answers({});
}

bool PrivateSoundServer::startPipeWire() {
    // The null sink, and the graph held at one period whatever its clients ask for.
    const QString drop = dir_.filePath(QStringLiteral("config/pipewire/pipewire.conf.d"));
    QDir().mkpath(drop);
    QFile config(drop + QStringLiteral("/check.conf"));
    if (!config.open(QIODevice::WriteOnly)) {
        failure_ = QStringLiteral("cannot write %1").arg(config.fileName());
        return false;
    }
    config.write(QStringLiteral("context.properties = { default.clock.rate = %1 default.clock.quantum = %2\n"
                                "  default.clock.min-quantum = %2 default.clock.max-quantum = %2 }\n"
                                "context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink\n"
                                "  node.name = %3 media.class = Audio/Sink audio.position = [ FL FR ] audio.rate = %1 } } ]\n")
                     .arg(kRate)
                     .arg(setup_.quantum)
                     .arg(sink())
                     .toUtf8());
    config.close();
    // WirePlumber links streams to the sink and makes it the default; the PulseAudio
    // protocol server takes the player's stream. The bus comes first, PipeWire second.
    if (!launch(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                QStringLiteral("--nopidfile"),
                                                QStringLiteral("--address=unix:path=") + busPath()}))
        return false;
    if (!listening(busPath())) return false;
    if (!launch(QStringLiteral("pipewire"), {})) return false;
    if (!listening(graphSocket())) return false;
    return launch(QStringLiteral("wireplumber"), {}) && launch(QStringLiteral("pipewire-pulse"), {}) &&
           answers(QStringLiteral("Default Sink: %1").arg(sink()));
}

void PrivateSoundServer::kill() {
    for (auto process = processes_.rbegin(); process != processes_.rend(); ++process) {
        (*process)->kill();
        (*process)->waitForFinished();
    }
}

bool PrivateSoundServer::running() const {
    return !processes_.empty() && std::all_of(processes_.begin(), processes_.end(), [](const auto& process) {
        return process->state() == QProcess::Running;
    });
}

QString PrivateSoundServer::address() const {
    // PipeWire's server makes its socket in PULSE_RUNTIME_PATH.
    return QStringLiteral("unix:") + (setup_.kind == ServerKind::PulseAudio ? dir_.filePath(QStringLiteral("native"))
                                                                           : dir_.filePath(QStringLiteral("run/native")));
}

QString PrivateSoundServer::graphSocket() const { return dir_.filePath(QStringLiteral("run/pipewire-0")); }

QString PrivateSoundServer::busPath() const { return dir_.filePath(QStringLiteral("bus")); }

QString PrivateSoundServer::systemBus() const {
    return QStringLiteral("unix:path=") + dir_.filePath(QStringLiteral("system-bus"));
}

QString PrivateSoundServer::brokerLog() const { return dir_.filePath(QStringLiteral("broker.log")); }

std::vector<BrokerRequest> PrivateSoundServer::brokerRequests() const {
    QFile log(brokerLog());
    std::vector<BrokerRequest> requests;
    if (!log.open(QIODevice::ReadOnly)) return requests;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 5) continue;
        requests.push_back({QString::fromLatin1(fields[0]), fields[1].toLongLong(), fields[2].toLongLong(),
                            fields[3].toInt(), fields[4] == "granted"});
    }
    return requests;
}

QProcessEnvironment PrivateSoundServer::clientEnvironment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), address());
    // A client that finds no cookie writes one; here, not in the user's home.
    environment.insert(QStringLiteral("PULSE_COOKIE"), dir_.filePath(QStringLiteral("cookie")));
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), systemBus());
    environment.remove(QStringLiteral("PULSE_SINK"));
    environment.remove(QStringLiteral("PULSE_LATENCY_MSEC"));
    return environment;
}

// What a recorder has recorded, filled from its stream's thread.
struct MonitorRecorder::Stream {
    virtual ~Stream() = default;
    virtual bool recording() const = 0;

    mutable std::mutex mutex;
    std::vector<float> samples;
    // For each read: when frame 0 of the recording was heard, by that read's timing.
    std::vector<int64_t> origins;
    std::vector<std::pair<int64_t, int64_t>> holes;

    // Silence for frames the server did not give.
    void addHole(int64_t frames) {
        const int64_t from = int64_t(samples.size() / 2);
        samples.resize(samples.size() + size_t(frames) * 2, 0.0f);
        holes.emplace_back(from, from + frames);
    }
};

// A record stream of the sink's monitor on its own mainloop thread.
struct MonitorRecorder::PulseStream final : Stream {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;

    PulseStream(const QString& server, const QString& sink) {
        loop = pa_threaded_mainloop_new();
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "clipwren test recorder");
        pa_context_set_state_callback(
            context,
            [](pa_context*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
            loop);
        pa_threaded_mainloop_lock(loop);
        const QByteArray address = server.toUtf8();
        if (pa_context_connect(context, address.constData(), PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
            pa_threaded_mainloop_start(loop) == 0) {
            while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) &&
                   pa_context_get_state(context) != PA_CONTEXT_READY)
                pa_threaded_mainloop_wait(loop);
        }
        if (pa_context_get_state(context) == PA_CONTEXT_READY) {
            const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, PrivateSoundServer::kRate, 2};
            const QByteArray sinkName = sink.toUtf8();
            stream = pa_stream_new(context, "monitor", &spec, nullptr);
            pa_stream_set_read_callback(stream, &PulseStream::onRead, this);
            // Short fragments: many reads, so many timing samples. The latency they ask for
            // keeps the null sink rendering only a few milliseconds ahead, so its monitor is
            // given each frame about when it is heard (its timing of the monitor is off by up
            // to the length of what it renders at once).
            pa_buffer_attr buffer{};
            buffer.maxlength = uint32_t(-1);
            buffer.fragsize = uint32_t(pa_usec_to_bytes(kFragmentUs, &spec));
            const QByteArray monitor = sinkName + ".monitor";
            pa_stream_connect_record(stream, monitor.constData(), &buffer,
                                     pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                       PA_STREAM_AUTO_TIMING_UPDATE));
            waitReady();
            waitForLowSinkLatency(sinkName);
        }
        pa_threaded_mainloop_unlock(loop);
    }

    ~PulseStream() override {
        pa_threaded_mainloop_lock(loop);
        if (stream) {
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
    }

    bool recording() const override {
        pa_threaded_mainloop_lock(loop);
        const bool ready = stream && pa_stream_get_state(stream) == PA_STREAM_READY;
        pa_threaded_mainloop_unlock(loop);
        return ready;
    }

    static void onRead(pa_stream* s, size_t, void* self) { static_cast<PulseStream*>(self)->read(s); }

    void waitReady() {
        pa_stream_set_state_callback(
            stream,
            [](pa_stream*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
            loop);
        while (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && pa_stream_get_state(stream) != PA_STREAM_READY)
            pa_threaded_mainloop_wait(loop);
    }

    // A null sink renders two seconds ahead when it is loaded, and only as that time
    // passes does it go over to the low latency the recording asks for.
    void waitForLowSinkLatency(const QByteArray& sink) {
        struct Query {
            pa_threaded_mainloop* loop;
            pa_usec_t latency = PA_USEC_INVALID;
            bool done = false;
        };
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kSettleTimeoutMs) {
            Query query{loop};
            pa_operation* operation = pa_context_get_sink_info_by_name(
                context, sink.constData(),
                [](pa_context*, const pa_sink_info* info, int last, void* data) {
                    auto& query = *static_cast<Query*>(data);
                    if (info) query.latency = info->latency;
                    if (last) {
                        query.done = true;
                        pa_threaded_mainloop_signal(query.loop, 0);
                    }
                },
                &query);
            while (operation && !query.done && pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
                pa_threaded_mainloop_wait(loop);
            if (operation) pa_operation_unref(operation);
            if (query.latency <= kSettledLatencyUs) return;
            pa_threaded_mainloop_unlock(loop);
            QThread::msleep(50);
            pa_threaded_mainloop_lock(loop);
        }
    }

    // Dated by how long ago the frame last read left the sink.
    void read(pa_stream* s) {
        std::lock_guard lock(mutex);
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
            const size_t count = bytes / sizeof(float);
            if (data)
                samples.insert(samples.end(), static_cast<const float*>(data), static_cast<const float*>(data) + count);
            else
                addHole(int64_t(count / 2));
            pa_stream_drop(s);
        }
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(s, &latency, &negative) != 0) return;
        const int64_t heardNow = steadyNowNs() - (negative ? -1 : 1) * int64_t(latency) * 1000;
        const int64_t frames = int64_t(samples.size() / 2);
        origins.push_back(heardNow - frames * 1'000'000'000 / PrivateSoundServer::kRate);
    }
};

// A native capture stream of what the sink plays, called in the graph's own cycle: the
// frames of a cycle are the ones the sink plays from that cycle's start on (a null
// sink has no device behind it), and the graph's clock is the steady clock.
struct MonitorRecorder::GraphStream final : Stream {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener{};
    std::atomic<bool> streaming{false};
    uint64_t firstTicks = 0;  // the graph's clock at frame 0 of the recording
    bool started = false;

    GraphStream(const QString& socket, const QString& sink) {
        pw_init(nullptr, nullptr);
        loop = pw_thread_loop_new("recorder", nullptr);
        context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
        if (!loop || !context || pw_thread_loop_start(loop) < 0) return;
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = [](void* self, pw_stream_state, pw_stream_state state, const char*) {
                static_cast<GraphStream*>(self)->streaming.store(state == PW_STREAM_STATE_STREAMING);
            };
            e.process = [](void* self) { static_cast<GraphStream*>(self)->process(); };
            return e;
        }();
        pw_thread_loop_lock(loop);
        const QByteArray remote = socket.toUtf8();
        core = pw_context_connect(context, pw_properties_new(PW_KEY_REMOTE_NAME, remote.constData(), nullptr), 0);
        if (core) {
            const QByteArray target = sink.toUtf8();
            // A long latency of its own, so the recorder leaves the graph's period as it is.
            stream = pw_stream_new(core, "clipwren test recorder",
                                   pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                     PW_KEY_TARGET_OBJECT, target.constData(),
                                                     PW_KEY_STREAM_CAPTURE_SINK, "true", PW_KEY_NODE_LATENCY,
                                                     "8192/48000", nullptr));
        }
        if (stream) {
            pw_stream_add_listener(stream, &listener, &events, this);
            uint8_t buffer[512];
            spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
            spa_audio_info_raw format{};
            format.format = SPA_AUDIO_FORMAT_F32;
            format.rate = PrivateSoundServer::kRate;
            format.channels = 2;
            format.position[0] = SPA_AUDIO_CHANNEL_FL;
            format.position[1] = SPA_AUDIO_CHANNEL_FR;
            const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &format)};
            pw_stream_connect(stream, PW_DIRECTION_INPUT, PW_ID_ANY,
                              pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                              PW_STREAM_FLAG_RT_PROCESS),
                              params, 1);
        }
        pw_thread_loop_unlock(loop);
        QElapsedTimer waited;
        waited.start();
        while (stream && !streaming.load() && waited.elapsed() < kStartTimeoutMs) QThread::msleep(10);
    }

    ~GraphStream() override {
        if (loop) pw_thread_loop_stop(loop);
        if (stream) pw_stream_destroy(stream);
        if (core) pw_core_disconnect(core);
        if (context) pw_context_destroy(context);
        if (loop) pw_thread_loop_destroy(loop);
        pw_deinit();
    }

    bool recording() const override { return streaming.load(); }

    // The graph's thread. A cycle the recorder missed is recorded as silence.
    void process() {
        pw_buffer* buffer = pw_stream_dequeue_buffer(stream);
        if (!buffer) return;
        pw_time time{};
        pw_stream_get_time_n(stream, &time, sizeof time);
        const spa_data& data = buffer->buffer->datas[0];
        if (data.data && data.chunk) {
            const auto* from = reinterpret_cast<const float*>(static_cast<const uint8_t*>(data.data) + data.chunk->offset);
            const size_t count = data.chunk->size / sizeof(float);
            std::lock_guard lock(mutex);
            if (!started) {
                firstTicks = time.ticks;
                started = true;
            }
            const int64_t frame = int64_t(time.ticks - firstTicks);
            if (frame * 2 > int64_t(samples.size())) addHole(frame - int64_t(samples.size() / 2));
            samples.insert(samples.end(), from, from + count);
            origins.push_back(time.now - frame * 1'000'000'000 / PrivateSoundServer::kRate);
        }
        pw_stream_queue_buffer(stream, buffer);
    }
};

MonitorRecorder::MonitorRecorder(const PrivateSoundServer& server) {
    if (server.setup().kind == ServerKind::PipeWire)
        stream_ = std::make_unique<GraphStream>(server.graphSocket(), server.sink());
    else
        stream_ = std::make_unique<PulseStream>(server.address(), server.sink());
}

MonitorRecorder::~MonitorRecorder() = default;

bool MonitorRecorder::recording() const { return stream_->recording(); }

std::vector<std::pair<int64_t, int64_t>> MonitorRecorder::holes() const {
    std::lock_guard lock(stream_->mutex);
    return stream_->holes;
}

std::vector<float> MonitorRecorder::samples() const {
    std::lock_guard lock(stream_->mutex);
    return stream_->samples;
}

MonitorRecorder::Timeline MonitorRecorder::timeline() const {
    std::vector<int64_t> origins;
    {
        std::lock_guard lock(stream_->mutex);
        origins = stream_->origins;
    }
    // The newer half only: libpulse's interpolation of a new record stream's timing takes
    // a second or two to settle.
    origins.erase(origins.begin(), origins.begin() + ptrdiff_t(origins.size() / 2));
    if (origins.empty()) return {};
    std::nth_element(origins.begin(), origins.begin() + ptrdiff_t(origins.size() / 2), origins.end());
    return {origins[origins.size() / 2]};
}

Heard listen(const std::vector<float>& samples, int gapFrames, const std::vector<std::pair<int64_t, int64_t>>& holes) {
    Heard heard;
    const int64_t frames = int64_t(samples.size() / 2);
    int64_t lastSound = -1;
    for (int64_t f = 0; f < frames; ++f) {
        const float level = std::max(std::fabs(samples[size_t(f * 2)]), std::fabs(samples[size_t(f * 2 + 1)]));
        if (level >= 0.5f) heard.clicks.push_back(f);
        if (level == 0.0f) continue;
        if (heard.firstSound < 0) heard.firstSound = f;
        const auto inGap = [&](const std::pair<int64_t, int64_t>& hole) { return hole.first < f && hole.second > lastSound; };
        if (lastSound >= 0 && f - lastSound - 1 >= gapFrames && std::none_of(holes.begin(), holes.end(), inGap)) {
            ++heard.gaps;
            heard.longestGap = std::max(heard.longestGap, f - lastSound - 1);
        }
        lastSound = f;
    }
    return heard;
}

double positionAt(const std::vector<std::pair<int64_t, int32_t>>& readings, int64_t atNs) {
    for (size_t i = 1; i < readings.size(); ++i) {
        const auto& [t0, p0] = readings[i - 1];
        const auto& [t1, p1] = readings[i];
        if (t0 <= atNs && atNs <= t1)
            return t1 == t0 ? p1 : p0 + double(p1 - p0) * double(atNs - t0) / double(t1 - t0);
    }
    return -1;
}

}  // namespace testsupport
