#pragma once
// A sound server of the tests' own with one null sink, in a temporary runtime folder,
// reached only through its own sockets (never the user's server): PulseAudio, or
// PipeWire with WirePlumber and its PulseAudio protocol server, on a session bus of
// its own. A recorder of what the sink plays, with the time each recorded frame was
// heard; and what to make of such a recording.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace testsupport {

enum class ServerKind { PulseAudio, PipeWire };

struct ServerSetup {
    ServerKind kind = ServerKind::PulseAudio;
    // As the user the test runs as, or, for a test run as root, as an unprivileged user
    // (nobody), as on a desktop: no real-time priority, no negative nice.
    bool unprivileged = false;
    int quantum = 2048;  // PipeWire: the graph's period in frames (2048: what a desktop gives a player)
    // The desktop's real-time broker on the servers' system bus grants what rtkit
    // grants (false), or refuses every request (true).
    bool brokerRefuses = false;
};

// A request the broker was asked, by the process and thread it was for.
struct BrokerRequest {
    QString method;  // "MakeThreadRealtime", "MakeThreadHighPriority", ...WithPID
    qint64 pid = 0;
    qint64 thread = 0;
    int priority = 0;  // real-time priority, or nice level
    bool granted = false;
};

class PrivateSoundServer {
public:
    static constexpr int kRate = 48000;  // the sink's rate, float stereo

    // Starts the server; failure() says why when it could not.
    explicit PrivateSoundServer(ServerSetup setup = {});
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool start();
    // Ends the server at once, as a crash would.
    void kill();
    bool running() const;
    QString failure() const { return failure_; }
    const ServerSetup& setup() const { return setup_; }
    // The address libpulse takes ("unix:/tmp/…/native").
    QString address() const;
    // PipeWire's own socket, for its native clients.
    QString graphSocket() const;
    // The system bus the servers and their clients find the real-time broker on.
    QString systemBus() const;
    // What the broker was asked so far.
    std::vector<BrokerRequest> brokerRequests() const;
    QString sink() const { return QStringLiteral("check"); }
    // The environment for a client program started by a test: this server only, and
    // nothing written to the user's home.
    QProcessEnvironment clientEnvironment() const;

private:
    bool startPulseAudio();
    bool startPipeWire();
    // Starts one of the server's programs; false, with the failure said, when it does not run.
    // The system bus and the broker run as root does, the server's programs as the setup says.
    bool launch(const QString& name, const QStringList& arguments, bool serverProgram = true);
    // Starts the system bus and the real-time broker on it, as a desktop has them.
    bool startBroker();
    // Waits for `pactl info` to answer with the line wanted (empty: any answer); on
    // failure, says what the server's programs wrote and ends them.
    bool answers(const QString& line);
    // Waits for a program of the server to take connections on its socket.
    bool listening(const QString& path);
    bool asOtherUser() const;
    QString busPath() const;
    QString brokerLog() const;

    ServerSetup setup_;
    QTemporaryDir dir_;
    std::vector<std::unique_ptr<QProcess>> processes_;  // in the order started
    QString failure_;
};

// Records what a sink plays from the moment it is made. On PulseAudio its monitor is
// recorded and dated by the record stream's latency; on PipeWire a native stream
// records it and dates each period by the graph's clock, for pipewire-pulse's latency
// reports of a monitor scatter by tens of milliseconds.
class MonitorRecorder {
public:
    explicit MonitorRecorder(const PrivateSoundServer& server);
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    bool recording() const;
    // Interleaved stereo frames recorded so far.
    std::vector<float> samples() const;
    // Stretches the server did not give the recording (recorded as silence): on PipeWire,
    // cycles the graph skipped when the server itself fell behind, and so nobody heard.
    // Frames [first, second).
    std::vector<std::pair<int64_t, int64_t>> holes() const;
    // When the recorded frames were heard, the median over the newer half of the reads
    // of the recording's timing. It holds for the whole recording, its start included.
    struct Timeline {
        int64_t originNs = 0;  // steady-clock time frame 0 was heard
        int64_t heardAtNs(int64_t frame) const { return originNs + frame * 1'000'000'000 / PrivateSoundServer::kRate; }
        // The first frame heard at or after a moment.
        int64_t frameAt(int64_t ns) const {
            return std::max<int64_t>(0, ((ns - originNs) * PrivateSoundServer::kRate + 999'999'999) / 1'000'000'000);
        }
    };
    Timeline timeline() const;

private:
    struct Stream;
    struct PulseStream;
    struct GraphStream;
    std::unique_ptr<Stream> stream_;
};

// What a recording of stereo frames holds.
struct Heard {
    int64_t firstSound = -1;      // the first frame that is not silent
    std::vector<int64_t> clicks;  // frames reaching 0.5 of full scale
    int gaps = 0;                 // silent stretches of gapFrames or more inside the sound, holes aside
    int64_t longestGap = 0;       // in frames
};
Heard listen(const std::vector<float>& samples, int gapFrames,
             const std::vector<std::pair<int64_t, int64_t>>& holes = {});

// The position a player reported at a moment, between the two readings (steady-clock
// nanoseconds, milliseconds) around it; -1 outside them.
double positionAt(const std::vector<std::pair<int64_t, int32_t>>& readings, int64_t atNs);

}  // namespace testsupport
