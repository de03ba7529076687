#pragma once
// Shared test helpers: fixture audio made at test time, and the ffmpeg/ffprobe
// command line as an independent oracle for what our own code writes and reads.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

struct CommandResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program with arguments (no shell) and waits for it.
CommandResult run(const QString& program, const QStringList& args);

// Interleaved float samples in [-1, 1].
std::vector<float> tone(int rate, int channels, int64_t frames, double freqHz, double amplitude = 0.5);
std::vector<float> silence(int channels, int64_t frames);
// Sets every channel of one frame to value: an impulse whose position can be found again.
void addClick(std::vector<float>& samples, int channels, int64_t frame, float value = 0.9f);

// 16-bit PCM WAV written by hand, so fixtures do not depend on the code under test.
void writeWav(const QString& path, int rate, int channels, const std::vector<float>& interleaved);

// Converts a file with the ffmpeg command line; extraArgs go before the output name.
void ffmpegConvert(const QString& in, const QString& out, const QStringList& extraArgs);

// Decodes with the ffmpeg command line to interleaved 16-bit samples.
// rate/channels of 0 keep the source's own.
std::vector<int16_t> ffmpegDecode(const QString& path, int rate = 0, int channels = 0);
// Decodes Ogg Vorbis with libvorbis's reference decoder (oggdec) to interleaved 16-bit
// samples at the source's rate and channels. Where it and ffmpeg disagree, it is right.
std::vector<int16_t> oggdecDecode(const QString& path);

// ffprobe's view of the first audio stream and the container: keys such as
// codec_name, sample_rate, channels, bit_rate, format_format_name, format_probe_score.
std::map<std::string, std::string> ffprobe(const QString& path);

// Integrated loudness (LUFS) and true peak (dBTP) as ffmpeg's ebur128 filter measures a file.
struct LoudnessReading {
    double integratedLufs = 0;
    double truePeakDbtp = 0;
};
LoudnessReading ffmpegLoudness(const QString& path);

// Index of the first sample (counted in frames) whose magnitude reaches threshold, or -1.
int64_t firstFrameAbove(const std::vector<int16_t>& interleaved, int channels, int threshold, int64_t from = 0);

// Where tests leave files for a person to look at (screenshots, enlarged pictures).
QString artifactsDir();

}  // namespace testsupport
