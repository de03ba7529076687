#include "PrivateSoundServer.h"

#include "components/player/AudioOutput.h"

#include <pulse/pulseaudio.h>
#include <sys/prctl.h>

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

}  // namespace

PrivateSoundServer::PrivateSoundServer() { start(); }

PrivateSoundServer::~PrivateSoundServer() {
    if (!server_) return;
    server_->terminate();
    if (!server_->waitForFinished(5000)) kill();
}

bool PrivateSoundServer::start() {
    if (!dir_.isValid()) {
        failure_ = QStringLiteral("no temporary folder for the sound server");
        return false;
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
    if (program.isEmpty()) {
        failure_ = QStringLiteral("pulseaudio is not installed (make test installs it)");
        return false;
    }
    // Everything the server keeps goes to the temporary folder. As root (CI, containers)
    // PulseAudio warns that it is meant for a user session, and runs.
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
    environment.insert(QStringLiteral("HOME"), dir_.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("PULSE_RUNTIME_PATH"), dir_.filePath(QStringLiteral("run")));
    environment.insert(QStringLiteral("PULSE_STATE_PATH"), dir_.filePath(QStringLiteral("state")));
    server_ = std::make_unique<QProcess>();
    server_->setProcessEnvironment(environment);
    // It ends with the test, also when the test is killed (a time-out).
    server_->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    server_->setProcessChannelMode(QProcess::MergedChannels);
    // No configuration script: a null sink that never suspends, its monitor, and a socket
    // any local client may use.
    server_->start(program, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                             QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                             QStringLiteral("--disallow-exit=yes"), QStringLiteral("--log-target=stderr"),
                             QStringLiteral("-L"),
                             QStringLiteral("module-null-sink sink_name=check rate=%1 format=float32le channels=2")
                                 .arg(kRate),
                             QStringLiteral("-L"),
                             QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=%1")
                                 .arg(dir_.filePath(QStringLiteral("native")))});
    if (!server_->waitForStarted()) {
        failure_ = QStringLiteral("pulseaudio did not start: ") + server_->errorString();
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kStartTimeoutMs) {
        QProcess probe;
        probe.setProcessEnvironment(clientEnvironment());
        probe.start(QStringLiteral("pactl"), {QStringLiteral("info")});
        if (probe.waitForFinished() && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0) return true;
        if (server_->state() == QProcess::NotRunning) break;
        QThread::msleep(50);
    }
    failure_ = QStringLiteral("pulseaudio did not answer: ") + QString::fromLocal8Bit(server_->readAll());
    kill();
    return false;
}

void PrivateSoundServer::kill() {
    if (!server_) return;
    server_->kill();
    server_->waitForFinished();
}

bool PrivateSoundServer::running() const { return server_ && server_->state() == QProcess::Running; }

QString PrivateSoundServer::address() const {
    return QStringLiteral("unix:") + dir_.filePath(QStringLiteral("native"));
}

QProcessEnvironment PrivateSoundServer::clientEnvironment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PULSE_SERVER"), address());
    // A client that finds no cookie writes one; here, not in the user's home.
    environment.insert(QStringLiteral("PULSE_COOKIE"), dir_.filePath(QStringLiteral("cookie")));
    environment.remove(QStringLiteral("PULSE_SINK"));
    environment.remove(QStringLiteral("PULSE_LATENCY_MSEC"));
    return environment;
}

// A record stream on its own mainloop thread.
struct MonitorRecorder::Stream {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    mutable std::mutex mutex;
    std::vector<float> samples;
    // For each read: when the frame just past the last one read was heard, less that
    // frame's own time in the recording.
    std::vector<int64_t> offsets;
    int holes = 0;

    static void onRead(pa_stream* s, size_t, void* self) { static_cast<Stream*>(self)->read(s); }

    static void waitReady(pa_stream* s, pa_threaded_mainloop* loop) {
        pa_stream_set_state_callback(
            s, [](pa_stream*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
            loop);
        while (PA_STREAM_IS_GOOD(pa_stream_get_state(s)) && pa_stream_get_state(s) != PA_STREAM_READY)
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

    static void close(pa_stream* s) {
        if (!s) return;
        pa_stream_set_read_callback(s, nullptr, nullptr);
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_disconnect(s);
        pa_stream_unref(s);
    }

    void read(pa_stream* s) {
        std::lock_guard lock(mutex);
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
            const size_t count = bytes / sizeof(float);
            if (data)
                samples.insert(samples.end(), static_cast<const float*>(data), static_cast<const float*>(data) + count);
            else {
                samples.resize(samples.size() + count, 0.0f);  // a hole in the recording
                ++holes;
            }
            pa_stream_drop(s);
        }
        pa_usec_t latency = 0;
        int negative = 0;
        if (pa_stream_get_latency(s, &latency, &negative) != 0) return;
        const int64_t heardNow = steadyNowNs() - (negative ? -1 : 1) * int64_t(latency) * 1000;
        const int64_t frames = int64_t(samples.size() / 2);
        offsets.push_back(heardNow - frames * 1'000'000'000 / PrivateSoundServer::kRate);
    }
};

MonitorRecorder::MonitorRecorder(const QString& server, const QString& sink) : stream_(std::make_unique<Stream>()) {
    Stream& s = *stream_;
    s.loop = pa_threaded_mainloop_new();
    s.context = pa_context_new(pa_threaded_mainloop_get_api(s.loop), "clipwren test recorder");
    pa_context_set_state_callback(
        s.context,
        [](pa_context*, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); },
        s.loop);
    pa_threaded_mainloop_lock(s.loop);
    const QByteArray address = server.toUtf8();
    if (pa_context_connect(s.context, address.constData(), PA_CONTEXT_NOAUTOSPAWN, nullptr) == 0 &&
        pa_threaded_mainloop_start(s.loop) == 0) {
        while (PA_CONTEXT_IS_GOOD(pa_context_get_state(s.context)) &&
               pa_context_get_state(s.context) != PA_CONTEXT_READY)
            pa_threaded_mainloop_wait(s.loop);
    }
    if (pa_context_get_state(s.context) == PA_CONTEXT_READY) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, PrivateSoundServer::kRate, 2};
        const QByteArray sinkName = sink.toUtf8();
        s.stream = pa_stream_new(s.context, "monitor", &spec, nullptr);
        pa_stream_set_read_callback(s.stream, &Stream::onRead, &s);
        // Short fragments: many reads, so many timing samples. The latency they ask for
        // keeps the null sink rendering only a few milliseconds ahead, so its monitor is
        // given each frame about when it is heard (its timing of the monitor is off by up
        // to the length of what it renders at once).
        pa_buffer_attr buffer{};
        buffer.maxlength = uint32_t(-1);
        buffer.fragsize = uint32_t(pa_usec_to_bytes(kFragmentUs, &spec));
        const QByteArray monitor = sinkName + ".monitor";
        pa_stream_connect_record(s.stream, monitor.constData(), &buffer,
                                 pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                   PA_STREAM_AUTO_TIMING_UPDATE));
        Stream::waitReady(s.stream, s.loop);
        s.waitForLowSinkLatency(sinkName);
    }
    pa_threaded_mainloop_unlock(s.loop);
}

MonitorRecorder::~MonitorRecorder() {
    Stream& s = *stream_;
    pa_threaded_mainloop_lock(s.loop);
    Stream::close(s.stream);
    pa_context_set_state_callback(s.context, nullptr, nullptr);
    pa_context_disconnect(s.context);
    pa_context_unref(s.context);
    pa_threaded_mainloop_unlock(s.loop);
    pa_threaded_mainloop_stop(s.loop);
    pa_threaded_mainloop_free(s.loop);
}

bool MonitorRecorder::recording() const {
    pa_threaded_mainloop_lock(stream_->loop);
    const bool ready = stream_->stream && pa_stream_get_state(stream_->stream) == PA_STREAM_READY;
    pa_threaded_mainloop_unlock(stream_->loop);
    return ready;
}

int MonitorRecorder::holes() const {
    std::lock_guard lock(stream_->mutex);
    return stream_->holes;
}

std::vector<float> MonitorRecorder::samples() const {
    std::lock_guard lock(stream_->mutex);
    return stream_->samples;
}

MonitorRecorder::Timeline MonitorRecorder::timeline() const {
    std::vector<int64_t> offsets;
    {
        std::lock_guard lock(stream_->mutex);
        offsets = stream_->offsets;
    }
    // The newer half only: libpulse's interpolation of a new record stream's timing takes
    // a second or two to settle.
    offsets.erase(offsets.begin(), offsets.begin() + ptrdiff_t(offsets.size() / 2));
    if (offsets.empty()) return {};
    std::nth_element(offsets.begin(), offsets.begin() + ptrdiff_t(offsets.size() / 2), offsets.end());
    return {offsets[offsets.size() / 2]};
}

Heard listen(const std::vector<float>& samples, int gapFrames) {
    Heard heard;
    const int64_t frames = int64_t(samples.size() / 2);
    int64_t lastSound = -1;
    for (int64_t f = 0; f < frames; ++f) {
        const float level = std::max(std::fabs(samples[size_t(f * 2)]), std::fabs(samples[size_t(f * 2 + 1)]));
        if (level >= 0.5f) heard.clicks.push_back(f);
        if (level == 0.0f) continue;
        if (heard.firstSound < 0) heard.firstSound = f;
        if (lastSound >= 0 && f - lastSound - 1 >= gapFrames) {
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
