// Player benchmark (recording stand-in output, no device): load time of a 60-minute VBR MP3 with and without
// its Xing header, time from Play to the first audio handed to the output, seek
// latency, resident memory while playing a 60-minute and a 3-minute file, and CPU
// share while playing at normal tempo and at +60 %. Inputs are made with the ffmpeg
// command line and kept in CLIPWREN_BENCH_CACHE (default: a folder in the temp dir).
#include "components/player/SoundPlayer.h"
#include "support/SoundOutputFake.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs the event loop (the player's level timer) without polling, so CPU figures are the player's.
void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool ffmpeg(const QStringList& args) {
    QProcess p;
    p.start("ffmpeg", QStringList{"-v", "error", "-y", "-nostdin"} + args);
    p.waitForFinished(-1);
    if (p.exitCode() != 0) std::fprintf(stderr, "ffmpeg failed: %s\n", p.readAllStandardError().constData());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A tone with beeps over pink noise, so a VBR encoder has something to vary.
bool encodePiece(const QString& out, int seconds, const QStringList& codecArgs) {
    return ffmpeg(QStringList{"-f", "lavfi", "-i", "sine=frequency=330:beep_factor=4:sample_rate=44100",
                              "-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.15:sample_rate=44100",
                              "-filter_complex",
                              "[0:a][1:a]amix=inputs=2:duration=first,aformat=channel_layouts=stereo",
                              "-t", QString::number(seconds)} +
                  codecArgs + QStringList{out});
}

// Repeats a piece by stream copy: an hour of MP3 in seconds instead of an hour's encode.
bool repeatPiece(const QString& piece, int times, const QString& out, const QStringList& muxArgs) {
    const QString list = out + ".txt";
    QFile file(list);
    if (!file.open(QIODevice::WriteOnly)) return false;
    for (int i = 0; i < times; ++i) file.write(QStringLiteral("file '%1'\n").arg(piece).toUtf8());
    file.close();
    const bool ok = ffmpeg(QStringList{"-f", "concat", "-safe", "0", "-i", list, "-c", "copy"} + muxArgs + QStringList{out});
    QFile::remove(list);
    return ok;
}

long residentKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Waits until the output is handed audio beyond `before` frames; returns when that was seen.
Clock::time_point firstAudioAfter(const testsupport::RecordingOutputs& sound, int64_t before) {
    while (sound.handedFrames() == before) QThread::usleep(100);
    return Clock::now();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);

    QString cache = qEnvironmentVariable("CLIPWREN_BENCH_CACHE");
    if (cache.isEmpty()) cache = QDir::temp().filePath("clipwren-bench-player");
    QDir().mkpath(cache);
    const QString piece = QDir(cache).filePath("player-piece-vbr-4min.mp3");
    const QString hour = QDir(cache).filePath("player-vbr-60min.mp3");
    const QString hourBare = QDir(cache).filePath("player-vbr-60min-noxing.mp3");
    const QString shortFile = QDir(cache).filePath("player-vbr-3min.mp3");
    auto make = [](const QString& path, const std::function<bool()>& build) {
        if (QFileInfo(path).size() > 0) return true;
        std::fprintf(stderr, "Making %s ...\n", qPrintable(path));
        return build();
    };
    if (!make(piece, [&] { return encodePiece(piece, 240, {"-c:a", "libmp3lame", "-q:a", "2"}); }) ||
        !make(shortFile, [&] { return encodePiece(shortFile, 180, {"-c:a", "libmp3lame", "-q:a", "2"}); }) ||
        !make(hour, [&] { return repeatPiece(piece, 15, hour, {"-f", "mp3"}); }) ||
        !make(hourBare, [&] { return repeatPiece(piece, 15, hourBare, {"-f", "mp3", "-write_xing", "0"}); })) {
        std::fprintf(stderr, "bench_player: could not make the inputs\n");
        return 1;
    }

    testsupport::RecordingOutputs sound;
    const long baseKb = residentKb();
    {
        clipwren::SoundPlayer player(sound);
        player.StartUp(1, nullptr, 0, 0, 0, 0);

        std::printf("Player (silent output)\n");
        for (const QString& file : {hour, hourBare}) {
            std::vector<double> times;
            int32_t length = 0;
            for (int run = 0; run < 5; ++run) {
                const auto start = Clock::now();
                player.OpenFile(0, file);
                length = player.Length(0);
                times.push_back(msSince(start));
            }
            std::printf("  OpenFile+Length, 60-min VBR MP3 %-12s median %7.1f ms  (length %d ms)\n",
                        file == hour ? "(Xing)" : "(no header)", median(times), length);
        }

        player.OpenFile(0, hour);
        spin(300);
        std::vector<double> fromStop;
        std::vector<double> fromRange;
        std::vector<double> seeks;
        std::mt19937 random(7);
        std::uniform_int_distribution<int32_t> anywhere(0, player.Length(0) - 10000);
        for (int run = 0; run < 10; ++run) {
            int64_t before = sound.handedFrames();
            auto start = Clock::now();
            player.Play(0);
            fromStop.push_back(
                std::chrono::duration<double, std::milli>(firstAudioAfter(sound, before) - start).count());
            spin(100);

            // Play marked from an arbitrary place: a seek and the decode of its start.
            player.Stop(0);
            spin(100);
            const int32_t begin = anywhere(random);
            before = sound.handedFrames();
            start = Clock::now();
            player.PlayRange(0, begin, begin + 5000);
            fromRange.push_back(
                std::chrono::duration<double, std::milli>(firstAudioAfter(sound, before) - start).count());
            spin(100);

            // Seek while playing: until the new place is heard and the position moves on from it.
            player.Play(0);
            const int32_t target = anywhere(random);
            start = Clock::now();
            player.Seek(0, target);
            while (player.Position(0) <= target) QThread::usleep(100);
            seeks.push_back(msSince(start));
            player.Stop(0);
            spin(100);
        }
        std::printf("  Play (stopped) to first audio handed out   median %7.1f ms  max %7.1f ms\n", median(fromStop),
                    *std::max_element(fromStop.begin(), fromStop.end()));
        std::printf("  PlayRange at a random place to first audio  median %7.1f ms  max %7.1f ms\n",
                    median(fromRange), *std::max_element(fromRange.begin(), fromRange.end()));
        std::printf("  Seek while playing until heard              median %7.1f ms  max %7.1f ms\n", median(seeks),
                    *std::max_element(seeks.begin(), seeks.end()));

        for (const QString& file : {shortFile, hour}) {
            player.OpenFile(0, file);
            player.Play(0);
            spin(1500);
            long peakKb = residentKb();
            player.Seek(0, player.Length(0) - 20000);
            spin(1500);
            peakKb = std::max(peakKb, residentKb());
            std::printf("  Resident memory playing the %-6s file     %7.1f MB  (%.1f MB above the empty process)\n",
                        file == hour ? "60-min" : "3-min", peakKb / 1024.0, (peakKb - baseKb) / 1024.0);
            player.Stop(0);
        }

        player.OpenFile(0, hour);
        auto cpuShare = [&](int ms) {
            const double cpuStart = cpuSeconds();
            const auto start = Clock::now();
            spin(ms);
            return (cpuSeconds() - cpuStart) / (msSince(start) / 1000.0) * 100.0;
        };
        for (float tempo : {0.0f, 60.0f, -60.0f}) {
            player.SetTempo(0, tempo);
            player.Seek(0, 600000);
            player.Play(0);
            spin(500);
            std::printf("  CPU while playing at tempo %+3.0f %%            %7.1f %% of one core\n", tempo,
                        cpuShare(5000));
            player.Stop(0);
        }
        player.Play(0);
        spin(500);
        player.Pause(0);
        spin(200);
        std::printf("  CPU while paused                            %7.1f %% of one core\n", cpuShare(3000));
    }
    return 0;
}
