// Decoder benchmark: open()+lengthMs() of MP3s from 4 minutes to 10 hours (a 60-minute
// one also without its Xing header) and of a 10-hour AAC audiobook, seek time (seek and
// the first block read) across each and the memory an open decoder holds, and decode
// speed in multiples of real time for common formats, with peak resident memory.
// Inputs are made with the ffmpeg command line and kept in CLIPWREN_BENCH_CACHE
// (default: a folder in the temp dir).
#include "components/decode/AudioDecoder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using clipwren::decode::AudioDecoder;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool runFfmpeg(const QStringList& args) {
    QProcess process;
    process.start("ffmpeg", QStringList{"-v", "error", "-y", "-nostdin"} + args);
    process.waitForFinished(-1);
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ok) std::fprintf(stderr, "ffmpeg failed: %s\n", process.readAllStandardError().constData());
    return ok;
}

// Makes `name` in the cache with the given ffmpeg arguments unless it is there already.
QString input(const QDir& cache, const QString& name, const QStringList& args) {
    const QString path = cache.filePath(name);
    if (QFile::exists(path)) return path;
    std::fprintf(stderr, "Making %s ...\n", qPrintable(name));
    const QString partial = cache.filePath(".partial-" + name);
    if (!runFfmpeg(args + QStringList{"-f", name.section('.', -1) == "m4a" ? "mp4" : name.section('.', -1), partial}))
        return {};
    QFile::rename(partial, path);
    return path;
}

// A tone with beeps over pink noise, so that VBR encoders have something to vary.
QStringList piece(int seconds) {
    return {"-f", "lavfi", "-i", "sine=frequency=330:beep_factor=4:sample_rate=44100",
            "-f", "lavfi", "-i", "anoisesrc=color=pink:amplitude=0.15:sample_rate=44100",
            "-filter_complex", "[0:a][1:a]amix=inputs=2:duration=first,aformat=channel_layouts=stereo",
            "-t", QString::number(seconds)};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

long peakResidentKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long residentKb() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').front().toLong();
    return 0;
}

// Open and length (median of 5 opens), the first seek to a random place half a second
// after opening (which may have to find its frame first) and the median and worst of 40 more (seek and 4096 frames
// read), and the resident memory the open decoder adds after those reads.
void benchOpenAndSeek(const char* label, const QString& path) {
    std::vector<double> opens;
    int32_t lengthMs = 0;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        const auto decoder = AudioDecoder::open(path, 44100, 2);
        if (!decoder) {
            std::printf("%-30s open failed: %d\n", label, decoder.failure().code);
            return;
        }
        lengthMs = (*decoder)->lengthMs();
        opens.push_back(msSince(start));
    }
    const long before = residentKb();
    auto opened = AudioDecoder::open(path, 44100, 2);
    if (!opened) return;
    auto& decoder = *opened;
    decoder->expectSeeks();
    // The first seek comes as a listener would make it, a moment after opening.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::mt19937_64 random(7);
    std::vector<float> block(4096 * 2);
    std::vector<double> seeks;
    double first = 0;
    for (int i = 0; i < 41; ++i) {
        const int64_t target = int64_t(random() % uint64_t(decoder->lengthFrames()));
        const auto start = Clock::now();
        decoder->seek(target);
        decoder->read(block.data(), 4096);
        (i == 0 ? first : seeks.emplace_back()) = msSince(start);
    }
    std::printf("%-30s %8.1f %10.1f %10.1f %10.1f %8.1f %10.1f\n", label, median(opens), first, median(seeks),
                *std::max_element(seeks.begin(), seeks.end()), (residentKb() - before) / 1024.0, lengthMs / 1000.0);
}

void benchDecode(const char* label, const QString& path, int rate, int channels) {
    const auto start = Clock::now();
    auto opened = AudioDecoder::open(path, rate, channels);
    if (!opened) {
        std::printf("%-34s open failed: %d\n", label, opened.failure().code);
        return;
    }
    auto& decoder = *opened;
    std::vector<float> block(size_t(8192 * decoder->outputChannels()));
    int64_t frames = 0;
    for (int64_t n; (n = decoder->read(block.data(), 8192)) > 0;) frames += n;
    const double seconds = msSince(start) / 1000.0;
    std::printf("%-34s %9.0f x real time (%.1f s of sound in %.2f s)\n", label,
                double(frames) / decoder->outputRate() / seconds, double(frames) / decoder->outputRate(), seconds);
}

}  // namespace

int main() {
    QString cacheDir = qEnvironmentVariable("CLIPWREN_BENCH_CACHE");
    if (cacheDir.isEmpty()) cacheDir = QDir::temp().filePath("clipwren-bench-decode");
    QDir().mkpath(cacheDir);
    const QDir cache(cacheDir);

    // The hour is a 4-minute piece repeated by stream copy: seconds instead of an hour's encode.
    const QString vbrPiece = input(cache, "piece-vbr-4min.mp3", piece(240) + QStringList{"-c:a", "libmp3lame", "-q:a", "2"});
    const QString list = cache.filePath("decode-repeat.txt");
    {
        QFile file(list);
        if (!file.open(QIODevice::WriteOnly)) return 1;
        for (int i = 0; i < 15; ++i) file.write(QStringLiteral("file '%1'\n").arg(vbrPiece).toUtf8());
    }
    const QString hour = input(cache, "vbr-60min.mp3", {"-f", "concat", "-safe", "0", "-i", list, "-c", "copy"});
    const QString hourBare = input(cache, "vbr-60min-noxing.mp3", {"-i", hour, "-c", "copy", "-write_xing", "0"});
    const QString m4a = input(cache, "piece-4min.m4a", piece(240) + QStringList{"-c:a", "aac", "-b:a", "160k"});
    const QString ogg = input(cache, "piece-4min.ogg", piece(240) + QStringList{"-c:a", "libvorbis"});
    const QString flac48 =
        input(cache, "piece-4min-48k.flac", piece(240) + QStringList{"-ar", "48000", "-c:a", "flac"});
    const QString wav = input(cache, "piece-4min.wav", piece(240) + QStringList{"-c:a", "pcm_s16le"});
    for (const QString& path : {vbrPiece, hour, hourBare, m4a, ogg, flac48, wav})
        if (path.isEmpty()) return 1;

    // Three and ten hours: the same pieces repeated, and an audiobook of AAC in MP4.
    auto repeated = [&](const QString& name, const QString& piece, int times, const QStringList& format) {
        const QString repeatList = cache.filePath("decode-repeat-" + name + ".txt");
        QFile file(repeatList);
        if (!file.open(QIODevice::WriteOnly)) return QString();
        for (int i = 0; i < times; ++i) file.write(QStringLiteral("file '%1'\n").arg(piece).toUtf8());
        file.close();
        return input(cache, name, QStringList{"-f", "concat", "-safe", "0", "-i", repeatList, "-c", "copy"} + format);
    };
    const QString cbrPiece =
        input(cache, "piece-cbr-4min.mp3", piece(240) + QStringList{"-c:a", "libmp3lame", "-b:a", "128k"});
    const QString cbr3h = repeated("cbr-3h.mp3", cbrPiece, 45, {});
    const QString vbr10h = repeated("vbr-10h.mp3", vbrPiece, 150, {});
    const QString book10h = repeated("book-10h.m4a", m4a, 150, {});
    for (const QString& path : {cbr3h, vbr10h, book10h})
        if (path.isEmpty()) return 1;

    std::printf("Decoder benchmark (inputs in %s)\n", qPrintable(cacheDir));
    std::printf("%-30s %8s %10s %10s %10s %8s %10s\n", "open, length, seek (ms)", "open", "1st seek", "seek med",
                "seek max", "+MB", "length s");
    benchOpenAndSeek("4-min VBR MP3", vbrPiece);
    benchOpenAndSeek("60-min VBR MP3", hour);
    benchOpenAndSeek("60-min VBR MP3, no Xing", hourBare);
    benchOpenAndSeek("3-hour CBR MP3", cbr3h);
    benchOpenAndSeek("10-hour VBR MP3", vbr10h);
    benchOpenAndSeek("10-hour AAC audiobook (MP4)", book10h);
    benchDecode("decode MP3 VBR 4 min", vbrPiece, 0, 0);
    benchDecode("decode M4A AAC 4 min", m4a, 0, 0);
    benchDecode("decode OGG Vorbis 4 min", ogg, 0, 0);
    benchDecode("decode WAV 4 min", wav, 0, 0);
    benchDecode("decode FLAC 48k -> 44100 stereo", flac48, 44100, 2);
    benchDecode("decode 60-min VBR MP3 -> 44100", hour, 44100, 2);
    std::printf("%-34s %9.1f MB\n", "peak resident memory", peakResidentKb() / 1024.0);
    return 0;
}
