// Playing under load, through a real sound server: 20 s of a tone with clicks every
// 250 ms while three processes compile C++ and flush large writes to disk, played by
// the player, by `ffplay -nodisp`, `paplay`, `mpv` and, on PipeWire, `pw-play` in turn in
// the same run. The sink of a
// private PulseAudio is recorded, and for each player the bench reports the gaps in what
// was heard, the longest, the time from Play to sound and the error of the reported
// position against what was heard at each click (ffplay's and mpv's from their status
// lines; paplay and pw-play report none), and the processor time each player took per
// second of sound. Then how soon a tempo change made while the player plays is heard, on
// clicks every 20 ms. The recording asks the sink for a latency of a few milliseconds, so
// that its timing of what is heard is exact; on a sound card the sink would hold more,
// so every player here has less in hand against a stall than it would on a desktop.
// Environment: CLIPWREN_BENCH_LOAD_ROUNDS (rounds of the three players, default 2);
// CLIPWREN_BENCH_SERVER=pipewire for PipeWire (run as nobody) instead of PulseAudio;
// CLIPWREN_BENCH_USER=nobody to run the whole bench as that user.
#include "components/player/PulseOutput.h"
#include "components/player/SoundPlayer.h"
#include "support/PrivateSoundServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace {

using clipwren::player::steadyNowNs;
using testsupport::Heard;
using testsupport::MonitorRecorder;
using testsupport::PrivateSoundServer;

constexpr int kRate = PrivateSoundServer::kRate;
constexpr int kSeconds = 20;
constexpr int kClickSpacing = kRate / 4;
constexpr int kFirstClick = kRate / 8;
// Silence inside the sound of 1 ms or more is a gap (the tone's zero crossings are single frames).
constexpr int kGapFrames = kRate / 1000;
constexpr int kLoadProcesses = 3;
constexpr int kPlayClicks = 5;
// Tempo changes: clicks every 20 ms, so that the first one heard at the new tempo comes soon after the change.
constexpr int kDenseClickSpacing = kRate / 50;
constexpr int kDenseSeconds = 12;
constexpr int kTempoChanges = 5;
constexpr float kFasterTempo = 60.0f;
// Normal tempo is heard as clicks exactly this many frames apart, ten in a row.
constexpr int kSpacingTolerance = 2;
constexpr int kRegularRun = 10;

// Runs the event loop for a while.
void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() holds or timeoutMs passes, calling done() every ~2 ms.
bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    const int64_t until = steadyNowNs() + int64_t(timeoutMs) * 1'000'000;
    while (!done()) {
        if (steadyNowNs() > until) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(2);
    }
    return true;
}

// The load: each process compiles a C++ file that includes much of the standard
// library, then writes 128 MB and flushes them to disk, over and over. Busy loops alone
// do not starve a player; compiles and flushed writes together do.
class Load {
public:
    explicit Load(const QString& folder) {
        QFile source(QDir(folder).filePath(QStringLiteral("heavy.cpp")));
        source.open(QIODevice::WriteOnly);
        source.write("#include <regex>\n#include <iostream>\n#include <map>\n#include <unordered_map>\n"
                     "#include <algorithm>\n#include <sstream>\n#include <vector>\n"
                     "int main() { std::map<std::string, std::vector<int>> m; std::regex r(\"(a+)(b*)c\");\n"
                     "  std::unordered_map<int, std::string> u; std::stringstream s; s << m.size();\n"
                     "  return std::regex_match(s.str(), r) ? int(u.size()) : 0; }\n");
        source.close();
        for (int i = 0; i < kLoadProcesses; ++i) {
            const QString work = QDir(folder).filePath(QStringLiteral("load%1").arg(i));
            auto process = std::make_unique<QProcess>();
            // A process group of its own, so that ending it ends the compiler and dd too;
            // the loop ends with the bench, also when the bench is killed.
            process->setChildProcessModifier([] {
                setpgid(0, 0);
                prctl(PR_SET_PDEATHSIG, SIGKILL);
            });
            process->start(QStringLiteral("bash"),
                           {QStringLiteral("-c"),
                            QStringLiteral("while :; do g++ -O2 -c %1 -o %2.o; "
                                           "dd if=/dev/zero of=%2.blob bs=1M count=128 conv=fsync status=none; done")
                                .arg(source.fileName(), work)});
            process->waitForStarted();
            processes_.push_back(std::move(process));
        }
    }
    ~Load() {
        for (auto& process : processes_) {
            ::kill(-pid_t(process->processId()), SIGKILL);
            process->waitForFinished();
        }
    }

private:
    std::vector<std::unique_ptr<QProcess>> processes_;
};

double loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').value(0).toDouble() : 0.0;
}

struct Figures {
    int gaps = -1;
    double longestGapMs = 0;
    std::vector<double> toSoundMs;  // from Play (or the program's start) to the first sound heard
    std::vector<double> positionErrorMs;
    int recordingHoles = 0;  // stretches the server could not give the recording, not the player's
    double cpuMs = NAN;      // the player's processor time over the sound's play
    double benchCpuMs = NAN;  // the bench's own meanwhile (recorder, polling), for a program played
};

// Processor time of this process (RUSAGE_SELF) or of its ended children (RUSAGE_CHILDREN).
double cpuMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto ms = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double maximum(const std::vector<double>& v) { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }

// What was heard from `from` on: gaps, and for each click heard the position reported then.
void judge(const MonitorRecorder& recorder, int64_t fromNs, const std::vector<std::pair<int64_t, int32_t>>& positions,
           Figures& figures) {
    const std::vector<float> all = recorder.samples();
    const MonitorRecorder::Timeline heardAt = recorder.timeline();
    const int64_t first = std::min<int64_t>(heardAt.frameAt(fromNs), int64_t(all.size() / 2));
    const std::vector<float> heardPart(all.begin() + first * 2, all.end());
    std::vector<std::pair<int64_t, int64_t>> holes = recorder.holes();
    for (auto& [holeFrom, holeTo] : holes) holeFrom -= first, holeTo -= first;
    const Heard heard = testsupport::listen(heardPart, kGapFrames, holes);
    figures.gaps = heard.gaps;
    figures.recordingHoles = int(recorder.holes().size());
    figures.longestGapMs = double(heard.longestGap) * 1000.0 / kRate;
    if (positions.empty() || heard.firstSound < 0) return;
    for (size_t i = 0; i < heard.clicks.size(); ++i) {
        // The i-th click heard is the i-th of the sound: a gap delays what follows it.
        const double clickMs = double(kFirstClick + int64_t(i) * kClickSpacing) * 1000.0 / kRate;
        const double reported = testsupport::positionAt(positions, heardAt.heardAtNs(first + heard.clicks[i]));
        if (reported >= 0) figures.positionErrorMs.push_back(std::fabs(reported - clickMs));
    }
}

// When the first sound from a moment on was heard, or -1.
int64_t firstSoundAt(const MonitorRecorder& recorder, int64_t fromNs) {
    const std::vector<float> all = recorder.samples();
    const MonitorRecorder::Timeline heardAt = recorder.timeline();
    for (int64_t f = heardAt.frameAt(fromNs); f * 2 < int64_t(all.size()); ++f)
        if (all[size_t(f * 2)] != 0.0f || all[size_t(f * 2 + 1)] != 0.0f) return heardAt.heardAtNs(f);
    return -1;
}

struct TempoFigures {
    std::vector<double> toFasterMs;  // SetTempo(+60) -> first click heard off the normal spacing
    std::vector<double> toNormalMs;  // SetTempo(0) -> first click of the regular run that follows
};

bool offSpacing(const std::vector<int64_t>& clicks, size_t i) {
    return std::abs(clicks[i] - clicks[i - 1] - kDenseClickSpacing) > kSpacingTolerance;
}

// Tempo changes while playing, back and forth. The stretcher sets clicks off their
// spacing only where it joins its sequences (about every 50 ms at +60 %), so the change
// to +60 % is measured up to a sequence late and the change back up to a sequence early.
TempoFigures changeTempo(const PrivateSoundServer& server, const QString& denseClicks) {
    clipwren::player::PulseOutputFactory outputs(server.address().toStdString());
    clipwren::SoundPlayer player(outputs);
    player.StartUp(1, nullptr, 0, 0, 0, 0);
    player.OpenFile(0, denseClicks);
    MonitorRecorder recorder(server);
    spin(300);
    player.Play(0);
    std::vector<int64_t> faster;
    std::vector<int64_t> normal;
    for (int i = 0; i < kTempoChanges; ++i) {
        spin(700);
        faster.push_back(steadyNowNs());
        player.SetTempo(0, kFasterTempo);
        spin(700);
        normal.push_back(steadyNowNs());
        player.SetTempo(0, 0.0f);
    }
    spin(700);
    player.Stop(0);
    spin(300);

    const std::vector<int64_t> clicks = testsupport::listen(recorder.samples(), kGapFrames).clicks;
    const MonitorRecorder::Timeline heardAt = recorder.timeline();
    TempoFigures figures;
    size_t i = 1;
    for (size_t change = 0; change < faster.size(); ++change) {
        while (i < clicks.size() && (heardAt.heardAtNs(clicks[i]) < faster[change] || !offSpacing(clicks, i))) ++i;
        if (i == clicks.size()) break;
        figures.toFasterMs.push_back(double(heardAt.heardAtNs(clicks[i]) - faster[change]) / 1e6);
        auto regularFrom = [&](size_t k) {
            for (size_t j = k + 1; j <= k + kRegularRun; ++j)
                if (j >= clicks.size() || offSpacing(clicks, j)) return false;
            return true;
        };
        while (i < clicks.size() && (heardAt.heardAtNs(clicks[i]) < normal[change] || !regularFrom(i))) ++i;
        if (i == clicks.size()) break;
        figures.toNormalMs.push_back(double(heardAt.heardAtNs(clicks[i]) - normal[change]) / 1e6);
    }
    return figures;
}

Figures playClipwren(const PrivateSoundServer& server, const QString& sound) {
    Figures figures;
    clipwren::player::PulseOutputFactory outputs(server.address().toStdString());
    clipwren::SoundPlayer player(outputs);
    player.StartUp(1, nullptr, 0, 0, 0, 0);
    player.OpenFile(0, sound);
    MonitorRecorder recorder(server);
    // Play clicked a few times, each time from the start.
    std::vector<int64_t> clicks;
    for (int i = 0; i < kPlayClicks; ++i) {
        spin(300);
        clicks.push_back(steadyNowNs());
        player.Play(0);
        spin(400);
        player.Stop(0);
    }
    spin(300);
    const int64_t from = steadyNowNs();
    const double cpuBefore = cpuMs(RUSAGE_SELF);
    player.Play(0);
    std::vector<std::pair<int64_t, int32_t>> positions;
    waitFor(
        [&] {
            positions.emplace_back(steadyNowNs(), player.Position(0));
            return player.State(0) == clipwren::SoundPlayer::Stopped;
        },
        (kSeconds + 10) * 1000);
    figures.cpuMs = cpuMs(RUSAGE_SELF) - cpuBefore;
    spin(300);
    // Judged only now: the recording's timing is best known from its later part.
    for (const int64_t clicked : clicks)
        figures.toSoundMs.push_back(double(firstSoundAt(recorder, clicked) - clicked) / 1e6);
    judge(recorder, from, positions, figures);
    return figures;
}

// A program that plays the sound and ends; its status line, if it writes one, gives the
// position it reports ("  12.34 M-A: ...", ffplay's master clock).
Figures playProgram(const PrivateSoundServer& server, const QString& program, const QStringList& arguments) {
    Figures figures;
    MonitorRecorder recorder(server);
    QProcessEnvironment environment = server.clientEnvironment();
    environment.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("pulseaudio"));
    environment.insert(QStringLiteral("PIPEWIRE_REMOTE"), server.graphSocket());
    QProcess process;
    process.setProcessEnvironment(environment);
    std::vector<std::pair<int64_t, int32_t>> positions;
    QByteArray pending;
    QObject::connect(&process, &QProcess::readyReadStandardError, [&] {
        const int64_t now = steadyNowNs();
        pending += process.readAllStandardError();
        qsizetype end = 0;
        while ((end = pending.indexOf('\r')) >= 0) {
            bool ok = false;
            // mpv clears the line first (ESC [K).
            const double seconds =
                pending.left(end).replace("\x1b[K", "").trimmed().split(' ').value(0).toDouble(&ok);
            if (ok) positions.emplace_back(now, int32_t(std::lround(seconds * 1000.0)));
            pending.remove(0, end + 1);
        }
    });
    spin(300);
    const int64_t from = steadyNowNs();
    const double childrenBefore = cpuMs(RUSAGE_CHILDREN);
    const double ownBefore = cpuMs(RUSAGE_SELF);
    process.start(program, arguments);
    waitFor([&] { return process.state() == QProcess::NotRunning; }, (kSeconds + 30) * 1000);
    figures.cpuMs = cpuMs(RUSAGE_CHILDREN) - childrenBefore;
    figures.benchCpuMs = cpuMs(RUSAGE_SELF) - ownBefore;
    spin(300);
    const int64_t sound = firstSoundAt(recorder, from);
    if (sound >= 0) figures.toSoundMs.push_back(double(sound - from) / 1e6);
    judge(recorder, from, positions, figures);
    return figures;
}

// cpuMs: the player's processor time over the play, ms per second of sound.
void print(const char* name, const Figures& f, const char* toSoundNote, double cpuMs) {
    std::printf("  %-15s %5d %9.1f   %7.1f / %7.1f %-12s %7.1f", name, f.gaps, f.longestGapMs, median(f.toSoundMs),
                maximum(f.toSoundMs), toSoundNote, cpuMs / kSeconds);
    if (f.positionErrorMs.empty())
        std::printf("        n/a\n");
    else
        std::printf("  %6.1f / %6.1f\n", median(f.positionErrorMs), maximum(f.positionErrorMs));
    if (f.recordingHoles > 0)
        std::printf("  (the recording has %d holes: gaps counted above may be its own)\n", f.recordingHoles);
}

}  // namespace

int main(int argc, char** argv) {
    // CLIPWREN_BENCH_USER=nobody (run as root): the whole bench, player and server, as that
    // user, as on a desktop: no real-time priority, no negative nice.
    if (const QByteArray name = qgetenv("CLIPWREN_BENCH_USER"); !name.isEmpty()) {
        const passwd* user = getpwnam(name.constData());
        if (!user || setgroups(0, nullptr) != 0 || setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0) {
            std::fprintf(stderr, "bench_player_load: cannot run as %s\n", name.constData());
            return 1;
        }
    }
    QCoreApplication app(argc, argv);
    int rounds = qEnvironmentVariableIntValue("CLIPWREN_BENCH_LOAD_ROUNDS");
    if (rounds <= 0) rounds = 2;
    QTemporaryDir work;
    // CLIPWREN_BENCH_SERVER=pipewire: PipeWire as a desktop user runs it, at its usual period.
    const bool pipeWire = qEnvironmentVariable("CLIPWREN_BENCH_SERVER") == QStringLiteral("pipewire");
    PrivateSoundServer server(pipeWire ? testsupport::ServerSetup{testsupport::ServerKind::PipeWire, true, 2048}
                                       : testsupport::ServerSetup{});
    if (!server.running()) {
        std::fprintf(stderr, "bench_player_load: no sound server: %s\n", qPrintable(server.failure()));
        return 1;
    }
    // The player and the recorder are clients in this process: no cookie in the user's home.
    qputenv("PULSE_COOKIE", server.clientEnvironment().value(QStringLiteral("PULSE_COOKIE")).toLocal8Bit());

    // A 440 Hz tone with a click every `spacing` frames. The mono sound is spread over two
    // channels at 0.71 of its level, so the clicks stand well above the recorder's 0.5 at
    // any phase of the tone.
    auto makeClicks = [&](const QString& name, int spacing, int seconds, double toneLevel, double clickLevel) {
        const QString file = work.filePath(name);
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                           QStringLiteral("lavfi"), QStringLiteral("-i"),
                           QStringLiteral("aevalsrc='%1*sin(2*PI*440*t)+%2*eq(mod(n-%3,%4),0)':s=%5:d=%6")
                               .arg(toneLevel)
                               .arg(clickLevel)
                               .arg(kFirstClick)
                               .arg(spacing)
                               .arg(kRate)
                               .arg(seconds),
                           QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-c:a"),
                           QStringLiteral("pcm_f32le"), file});
        return file;
    };
    // Every 250 ms the tone is at the same phase.
    const QString sound = makeClicks(QStringLiteral("clicks.wav"), kClickSpacing, kSeconds, 0.1, 0.8);
    const QString denseClicks =
        makeClicks(QStringLiteral("dense-clicks.wav"), kDenseClickSpacing, kDenseSeconds, 0.05, 0.9);
    std::printf("Server: %s\n", pipeWire ? "PipeWire, 2048-frame period, run as a normal user" : "PulseAudio");
    std::printf("Playing %d s under load: %d processes compiling C++ and flushing 128 MB writes, %d cores\n",
                kSeconds, kLoadProcesses, QThread::idealThreadCount());
    std::printf("(gaps: silences of 1 ms or more inside the sound; to sound: from Play, or from the\n"
                " program's start for the others; position error against what was heard at each click;\n"
                " CPU: processor time per second of sound)\n");
    Load load(work.path());
    spin(3000);  // the load builds up
    for (int round = 1; round <= rounds; ++round) {
        std::printf("\nRound %d (load average %.1f)\n", round, loadAverage());
        std::printf("  %-15s %5s %9s   %17s %-12s %7s  %15s\n", "player", "gaps", "longest", "to sound ms med/max",
                    "", "CPU ms/s", "pos. err med/max");
        const Figures clipwren = playClipwren(server, sound);
        const Figures ffplay = playProgram(server, QStringLiteral("ffplay"),
                                           {QStringLiteral("-nodisp"), QStringLiteral("-autoexit"),
                                            QStringLiteral("-hide_banner"), sound});
        const Figures paplay = playProgram(server, QStringLiteral("paplay"), {sound});
        const Figures mpv = playProgram(server, QStringLiteral("mpv"),
                                        {QStringLiteral("--no-config"), QStringLiteral("--no-video"),
                                         QStringLiteral("--term-status-msg=${=time-pos}"), sound});
        // The player plays in the bench's own process: what the bench took meanwhile, less
        // what it takes itself while paplay plays (the recorder, the polling).
        print("clipwren", clipwren, "(Play)", clipwren.cpuMs - paplay.benchCpuMs);
        print("ffplay -nodisp", ffplay, "(start)", ffplay.cpuMs);
        print("paplay", paplay, "(start)", paplay.cpuMs);
        print("mpv", mpv, "(start)", mpv.cpuMs);
        if (pipeWire) {
            const Figures pwPlay = playProgram(server, QStringLiteral("pw-play"), {sound});
            print("pw-play", pwPlay, "(start)", pwPlay.cpuMs);
        }
        const TempoFigures tempo = changeTempo(server, denseClicks);
        std::printf("  clipwren tempo change while playing, heard after (ms, med/max of %d): to %+.0f %% %.1f / %.1f "
                    "(up to a stretcher sequence late), back to normal %.1f / %.1f (up to a sequence early)\n",
                    kTempoChanges, kFasterTempo, median(tempo.toFasterMs), maximum(tempo.toFasterMs),
                    median(tempo.toNormalMs), maximum(tempo.toNormalMs));
    }
    return 0;
}
