#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtEndian>
#include <cmath>
#include <stdexcept>

namespace testsupport {

CommandResult run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    CommandResult result;
    if (!process.waitForStarted(-1)) return result;
    process.closeWriteChannel();
    process.waitForFinished(-1);
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

std::vector<float> tone(int rate, int channels, int64_t frames, double freqHz, double amplitude) {
    std::vector<float> samples(static_cast<size_t>(frames * channels));
    for (int64_t i = 0; i < frames; ++i) {
        const float v = static_cast<float>(amplitude * std::sin(2.0 * M_PI * freqHz * double(i) / rate));
        for (int c = 0; c < channels; ++c) samples[size_t(i * channels + c)] = v;
    }
    return samples;
}

std::vector<float> silence(int channels, int64_t frames) {
    return std::vector<float>(static_cast<size_t>(frames * channels), 0.0f);
}

void addClick(std::vector<float>& samples, int channels, int64_t frame, float value) {
    for (int c = 0; c < channels; ++c) samples.at(size_t(frame * channels + c)) = value;
}

void writeWav(const QString& path, int rate, int channels, const std::vector<float>& interleaved) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write " + path.toStdString());
    const quint32 dataBytes = quint32(interleaved.size() * 2);
    auto u32 = [&](quint32 v) { v = qToLittleEndian(v); file.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](quint16 v) { v = qToLittleEndian(v); file.write(reinterpret_cast<const char*>(&v), 2); };
    file.write("RIFF", 4); u32(36 + dataBytes); file.write("WAVE", 4);
    file.write("fmt ", 4); u32(16); u16(1); u16(quint16(channels)); u32(quint32(rate));
    u32(quint32(rate * channels * 2)); u16(quint16(channels * 2)); u16(16);
    file.write("data", 4); u32(dataBytes);
    QByteArray pcm(int(dataBytes), Qt::Uninitialized);
    for (size_t i = 0; i < interleaved.size(); ++i) {
        const float clamped = std::fmax(-1.0f, std::fmin(1.0f, interleaved[i]));
        const qint16 s = qToLittleEndian(static_cast<qint16>(std::lrint(clamped * 32767.0f)));
        memcpy(pcm.data() + i * 2, &s, 2);
    }
    file.write(pcm);
}

void ffmpegConvert(const QString& in, const QString& out, const QStringList& extraArgs) {
    QStringList args{"-v", "error", "-y", "-i", in};
    args << extraArgs << out;
    const CommandResult r = run("ffmpeg", args);
    if (r.exitCode != 0)
        throw std::runtime_error("ffmpeg failed for " + out.toStdString() + ": " + r.err.toStdString());
}

namespace {
// A decoder's raw output on standard output: 16-bit little-endian samples.
std::vector<int16_t> samplesOf(const CommandResult& r, const char* decoder) {
    if (r.exitCode != 0) throw std::runtime_error(std::string(decoder) + " decode failed: " + r.err.toStdString());
    std::vector<int16_t> samples(size_t(r.out.size()) / 2);
    memcpy(samples.data(), r.out.constData(), samples.size() * 2);
    for (auto& s : samples) s = qFromLittleEndian(s);
    return samples;
}
}  // namespace

std::vector<int16_t> ffmpegDecode(const QString& path, int rate, int channels) {
    QStringList args{"-v", "error", "-i", path};
    if (rate > 0) args << "-ar" << QString::number(rate);
    if (channels > 0) args << "-ac" << QString::number(channels);
    args << "-f" << "s16le" << "-";
    return samplesOf(run("ffmpeg", args), "ffmpeg");
}

std::vector<int16_t> oggdecDecode(const QString& path) {
    return samplesOf(run("oggdec", {"--quiet", "--raw", "--bits", "16", "--output", "-", path}), "oggdec");
}

LoudnessReading ffmpegLoudness(const QString& path) {
    const CommandResult r =
        run("ffmpeg", {"-nostats", "-hide_banner", "-i", path, "-af", "ebur128=peak=true", "-f", "null", "-"});
    if (r.exitCode != 0) throw std::runtime_error("ffmpeg ebur128 failed: " + r.err.toStdString());
    // The summary at the end: "I:  -14.0 LUFS" and, under "True peak:", "Peak:  -1.2 dBFS".
    const QString summary = QString::fromUtf8(r.err.mid(r.err.lastIndexOf("Summary:")));
    const auto field = [&summary](const char* name) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("%1:\\s+(-?[0-9.]+|-inf)").arg(QLatin1String(name))).match(summary);
        if (!m.hasMatch()) throw std::runtime_error("no " + std::string(name) + " in ffmpeg's ebur128 summary");
        return m.captured(1) == QLatin1String("-inf") ? -HUGE_VAL : m.captured(1).toDouble();
    };
    return {field("I"), field("Peak")};
}

std::map<std::string, std::string> ffprobe(const QString& path) {
    const CommandResult r = run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                            "stream=codec_name,sample_rate,channels,bit_rate,duration:"
                                            "format=format_name,bit_rate,duration,probe_score",
                                            "-of", "flat=s=_", path});
    std::map<std::string, std::string> fields;
    for (const QByteArray& line : r.out.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq < 0) continue;
        QByteArray key = line.left(eq);
        // "streams_stream_0_codec_name" -> "codec_name"; "format_bit_rate" -> "format_bit_rate"
        if (key.startsWith("streams_stream_0_")) key = key.mid(17);
        QByteArray value = line.mid(eq + 1).trimmed();
        if (value.startsWith('"')) value = value.mid(1, value.size() - 2);
        fields[key.toStdString()] = value.toStdString();
    }
    return fields;
}

int64_t firstFrameAbove(const std::vector<int16_t>& interleaved, int channels, int threshold, int64_t from) {
    const int64_t frames = int64_t(interleaved.size()) / channels;
    for (int64_t f = from; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            if (std::abs(int(interleaved[size_t(f * channels + c)])) >= threshold) return f;
    return -1;
}

QString artifactsDir() {
    QString dir = qEnvironmentVariable("CLIPWREN_ARTIFACTS");
    if (dir.isEmpty()) dir = QStringLiteral(CLIPWREN_ARTIFACTS_DIR);
    QDir().mkpath(dir);
    return dir;
}

}  // namespace testsupport
