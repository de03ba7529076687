#pragma once
// A sound server of the tests' own: PulseAudio with one null sink, in a temporary
// runtime folder, reached only through its own socket (never the user's server); a
// recorder of what the sink plays, with the time each recorded frame was heard; and
// what to make of such a recording.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace testsupport {

class PrivateSoundServer {
public:
    static constexpr int kRate = 48000;  // the sink's rate, float stereo

    // Starts the server; failure() says why when it could not.
    PrivateSoundServer();
    ~PrivateSoundServer();
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    bool start();
    // Ends the server at once, as a crash would.
    void kill();
    bool running() const;
    QString failure() const { return failure_; }
    // The address libpulse takes ("unix:/tmp/…/native").
    QString address() const;
    QString sink() const { return QStringLiteral("check"); }
    // The environment for a client program started by a test: this server only, and
    // nothing written to the user's home.
    QProcessEnvironment clientEnvironment() const;

private:
    QTemporaryDir dir_;
    std::unique_ptr<QProcess> server_;
    QString failure_;
};

// Records what a sink plays (its monitor) from the moment it is made.
class MonitorRecorder {
public:
    MonitorRecorder(const QString& server, const QString& sink);
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    bool recording() const;
    // Interleaved stereo frames recorded so far.
    std::vector<float> samples() const;
    // Stretches the server could not give the recording (recorded as silence).
    int holes() const;
    // When the recorded frames were heard: from the server's timing of the record stream
    // at each read (how long ago the frame last read left the sink), the median over the
    // newer half of the reads. It holds for the whole recording, its start included.
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
    std::unique_ptr<Stream> stream_;
};

// What a recording of stereo frames holds.
struct Heard {
    int64_t firstSound = -1;      // the first frame that is not silent
    std::vector<int64_t> clicks;  // frames reaching 0.5 of full scale
    int gaps = 0;                 // silent stretches of gapFrames or more inside the sound
    int64_t longestGap = 0;       // in frames
};
Heard listen(const std::vector<float>& samples, int gapFrames);

// The position a player reported at a moment, between the two readings (steady-clock
// nanoseconds, milliseconds) around it; -1 outside them.
double positionAt(const std::vector<std::pair<int64_t, int32_t>>& readings, int64_t atNs);

}  // namespace testsupport
