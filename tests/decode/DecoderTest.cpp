// The decoder against the ffmpeg command line: exact lengths and identical samples for
// every input format, sample-accurate seeking, conversion, and files it must refuse
// or read only as far as they hold.
#include "components/decode/AudioDecoder.h"
#include "components/errors/modSoundErrDesc.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

using clipwren::decode::AudioDecoder;
namespace err = clipwren::err;
namespace ts = testsupport;

namespace {

struct Fixtures {
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

Fixtures& fixtures() {
    static Fixtures f;
    return f;
}

// A quiet tone with clicks at known frames, so misplaced audio shows.
constexpr int64_t kClickFrame = 40011;
QString sourceWav(int rate, int channels, double seconds, const QString& name) {
    const QString path = fixtures().path(name);
    if (QFile::exists(path)) return path;
    const int64_t frames = int64_t(seconds * rate);
    auto samples = ts::tone(rate, channels, frames, 330.0, 0.25);
    ts::addClick(samples, channels, kClickFrame * rate / 44100);
    ts::addClick(samples, channels, frames * 3 / 4, -0.8f);
    ts::writeWav(path, rate, channels, samples);
    return path;
}

QString encoded(const QString& source, const QString& name, const QStringList& args) {
    const QString path = fixtures().path(name);
    if (!QFile::exists(path)) ts::ffmpegConvert(source, path, args);
    return path;
}

// MP3s joined: by the ffmpeg command line's stream copy, which writes one header frame
// for the whole (and, for constant-rate parts, a padding pattern that starts again at
// each part); or byte for byte, each part keeping its own tags and header frame.
QString joinedMp3(const QString& name, const QStringList& parts, bool byCopy) {
    const QString path = fixtures().path(name);
    if (QFile::exists(path)) return path;
    QFile out(byCopy ? path + ".txt" : path);
    if (!out.open(QIODevice::WriteOnly)) return {};
    for (const QString& part : parts) {
        QFile in(part);
        if (!in.open(QIODevice::ReadOnly)) return {};
        out.write(byCopy ? QStringLiteral("file '%1'\n").arg(part).toUtf8() : in.readAll());
    }
    out.close();
    if (byCopy) ts::run("ffmpeg", {"-v", "error", "-f", "concat", "-safe", "0", "-i", out.fileName(), "-c", "copy", path});
    return path;
}
std::unique_ptr<AudioDecoder> openOrFail(const QString& path, int rate = 0, int channels = 0) {
    auto decoder = AudioDecoder::open(path, rate, channels);
    EXPECT_TRUE(decoder) << path.toStdString() << " error " << decoder.failure().code;
    return decoder ? std::move(*decoder) : nullptr;
}

std::vector<float> readAll(AudioDecoder& decoder) {
    std::vector<float> out;
    std::vector<float> block(size_t(3001 * decoder.outputChannels()));
    for (;;) {
        const int64_t n = decoder.read(block.data(), 3001);
        EXPECT_GE(n, 0);
        if (n <= 0) break;
        out.insert(out.end(), block.begin(), block.begin() + n * decoder.outputChannels());
    }
    return out;
}

// Largest difference, in 16-bit steps, between our float samples and ffmpeg's s16 output.
double maxDifference(const std::vector<float>& ours, const std::vector<int16_t>& reference, size_t from = 0,
                     size_t count = SIZE_MAX) {
    double worst = 0;
    const size_t end = std::min({ours.size(), reference.size(), count == SIZE_MAX ? SIZE_MAX : from + count});
    for (size_t i = from; i < end; ++i) worst = std::max(worst, std::fabs(ours[i] * 32768.0 - reference[i]));
    return worst;
}

// Frame of the loudest sample in frames [0, limit): where the first click landed.
template <typename Sample>
int64_t loudestFrame(const std::vector<Sample>& interleaved, int channels, int64_t limit) {
    int64_t best = -1;
    double peak = 0;
    for (int64_t f = 0; f < limit && f * channels < int64_t(interleaved.size()); ++f)
        if (std::fabs(double(interleaved[size_t(f * channels)])) > peak) {
            peak = std::fabs(double(interleaved[size_t(f * channels)]));
            best = f;
        }
    return best;
}

struct FormatCase {
    const char* name;
    QString (*make)();
    int expectedChannels;  // of our default output
    int referenceChannels; // what the reference decode is asked for (0: the source's)
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

QString stereo44() { return sourceWav(44100, 2, 3.0, "s44.wav"); }
QString cbrMp3() { return encoded(stereo44(), "cbr.mp3", {"-c:a", "libmp3lame", "-b:a", "128k"}); }
QString vbrMp3() { return encoded(stereo44(), "vbr.mp3", {"-c:a", "libmp3lame", "-q:a", "4"}); }
const FormatCase kFormats[] = {
    {"wav16", [] { return stereo44(); }, 2, 0},
    {"wav24_48k", [] { return encoded(sourceWav(48000, 2, 3.0, "s48.wav"), "w24.wav", {"-c:a", "pcm_s24le"}); }, 2, 0},
    {"mp3_cbr", [] { return cbrMp3(); }, 2, 0},
    {"mp3_vbr", [] { return vbrMp3(); }, 2, 0},
    {"mp3_cbr_joined_by_copy", [] { return joinedMp3("cbr3.mp3", {cbrMp3(), cbrMp3(), cbrMp3()}, true); }, 2, 0},
    {"mp3_vbr_joined_by_copy", [] { return joinedMp3("vbr3.mp3", {vbrMp3(), vbrMp3(), vbrMp3()}, true); }, 2, 0},
    {"mp3_vbr_no_xing",
     [] { return encoded(stereo44(), "vbrnox.mp3", {"-c:a", "libmp3lame", "-q:a", "4", "-write_xing", "0"}); }, 2, 0},
    {"wma", [] { return encoded(stereo44(), "a.wma", {"-c:a", "wmav2", "-b:a", "128k"}); }, 2, 0},
    {"m4a", [] { return encoded(stereo44(), "a.m4a", {"-c:a", "aac", "-b:a", "128k"}); }, 2, 0},
    {"mp4", [] { return encoded(stereo44(), "a.mp4", {"-c:a", "aac", "-b:a", "96k"}); }, 2, 0},
    {"adts_aac", [] { return encoded(stereo44(), "a.aac", {"-c:a", "aac", "-f", "adts"}); }, 2, 0},
    {"ogg_vorbis", [] { return encoded(stereo44(), "a.ogg", {"-c:a", "libvorbis"}); }, 2, 0},
    {"opus", [] { return encoded(stereo44(), "a.opus", {"-c:a", "libopus"}); }, 2, 0},
    {"flac", [] { return encoded(stereo44(), "a.flac", {"-c:a", "flac"}); }, 2, 0},
    {"ogg_flac", [] { return encoded(stereo44(), "a.oga", {"-c:a", "flac", "-f", "ogg"}); }, 2, 0},
    {"ogg_speex", [] { return encoded(stereo44(), "a.spx", {"-ar", "16000", "-ac", "1", "-c:a", "libspeex"}); }, 1, 0},
    {"mono_22050", [] { return sourceWav(22050, 1, 2.5, "m22.wav"); }, 1, 0},
    {"adpcm_wav", [] { return encoded(stereo44(), "adpcm.wav", {"-c:a", "adpcm_ms"}); }, 2, 0},
    {"surround_5_1_mixed_down", [] { return encoded(sourceWav(48000, 6, 2.0, "s51.wav"), "s51.m4a", {"-c:a", "aac"}); },
     2, 2},
};

class DecoderFormats : public ::testing::TestWithParam<FormatCase> {};

// Length, channels and every sample as a gapless-aware decode by the ffmpeg command
// line gives them: catches lost encoder delay or padding handling, misplaced starts
// and ends, and conversion faults.
TEST_P(DecoderFormats, LengthAndSamplesMatchIndependentDecode) {
    const FormatCase& c = GetParam();
    const QString path = c.make();
    auto decoder = openOrFail(path);
    ASSERT_TRUE(decoder);
    const int channels = decoder->outputChannels();
    EXPECT_EQ(channels, c.expectedChannels);
    const auto probe = ts::ffprobe(path);
    EXPECT_EQ(decoder->source().sampleRate, std::stoi(probe.at("sample_rate")));
    EXPECT_EQ(decoder->outputRate(), decoder->source().sampleRate);

    const std::vector<int16_t> reference = ts::ffmpegDecode(path, 0, c.referenceChannels);
    int64_t referenceFrames = int64_t(reference.size()) / channels;
    // An MP4 sound ends where its edit list does; the command line decodes the last packet whole.
    if (QString::fromStdString(probe.at("format_format_name")).startsWith("mov"))
        referenceFrames = ts::run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                              "stream=duration_ts", "-of", "default=nw=1:nk=1", path})
                              .out.trimmed()
                              .toLongLong();
    EXPECT_EQ(decoder->lengthFrames(), referenceFrames);
    EXPECT_EQ(decoder->source().lengthFrames, referenceFrames);
    EXPECT_EQ(decoder->lengthMs(), int32_t(std::llround(referenceFrames * 1000.0 / decoder->outputRate())));

    const std::vector<float> ours = readAll(*decoder);
    EXPECT_EQ(int64_t(ours.size()) / channels, referenceFrames);
    EXPECT_EQ(decoder->position(), decoder->lengthFrames());
    EXPECT_LE(maxDifference(ours, reference), c.referenceChannels ? 2.0 : 1.0);
}

INSTANTIATE_TEST_SUITE_P(AllInputs, DecoderFormats, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

// Seeking: a click at a known frame, seek to just before it, and the first frames read
// must be those of a continuous decode (ours and the ffmpeg command line's).
struct SeekCase {
    const char* name;
    QString (*make)();
    int outputRate;
    double tolerance;  // largest difference from our continuous decode, in 16-bit steps
};
void PrintTo(const SeekCase& c, std::ostream* os) { *os << c.name; }

const SeekCase kSeekCases[] = {
    {"wav", [] { return stereo44(); }, 0, 0.0},
    {"flac", [] { return encoded(stereo44(), "a.flac", {"-c:a", "flac"}); }, 0, 0.0},
    // Ogg gives the page a seek lands on displaced timestamps with these two.
    {"ogg_flac", [] { return encoded(stereo44(), "a.oga", {"-c:a", "flac", "-f", "ogg"}); }, 0, 0.0},
    {"ogg_speex", [] { return encoded(stereo44(), "a2.spx", {"-ar", "16000", "-c:a", "libspeex"}); }, 0, 1.0},
    {"mp3_vbr_no_xing",
     [] { return encoded(stereo44(), "vbrnox.mp3", {"-c:a", "libmp3lame", "-q:a", "4", "-write_xing", "0"}); }, 0, 1.0},
    // Found through the frame index: from the header frame's counts, walking only as far
    // as a seek asks; or from the byte offset at a constant rate.
    {"mp3_vbr_joined_by_copy",
     [] { return joinedMp3("vbr3.mp3", {vbrMp3(), vbrMp3(), vbrMp3()}, true); }, 0, 1.0},
    {"mp3_cbr_joined_by_copy",
     [] { return joinedMp3("cbr3.mp3", {cbrMp3(), cbrMp3(), cbrMp3()}, true); }, 0, 1.0},
    // Two files one after the other, each with its own tags and header: FFmpeg's demuxer.
    {"mp3_joined_files", [] { return joinedMp3("cat.mp3", {vbrMp3(), cbrMp3()}, false); }, 0, 1.0},
    {"mp3_cbr_low_rate",
     [] { return encoded(stereo44(), "cbr32.mp3", {"-c:a", "libmp3lame", "-b:a", "32k"}); }, 0, 1.0},
    {"m4a", [] { return encoded(stereo44(), "a.m4a", {"-c:a", "aac", "-b:a", "128k"}); }, 0, 8.0},
    {"ogg_vorbis", [] { return encoded(stereo44(), "a.ogg", {"-c:a", "libvorbis"}); }, 0, 1.0},
    {"opus", [] { return encoded(stereo44(), "a.opus", {"-c:a", "libopus"}); }, 0, 1.0},
    {"wma", [] { return encoded(stereo44(), "a.wma", {"-c:a", "wmav2", "-b:a", "128k"}); }, 0, 1.0},
    // Its seek timestamps come from a rounded byte rate: positions are found by counting.
    {"adpcm_wav", [] { return encoded(stereo44(), "adpcm.wav", {"-c:a", "adpcm_ms"}); }, 0, 0.5},
    {"wav48k_to_44100", [] { return sourceWav(48000, 2, 3.0, "s48.wav"); }, 44100, 0.01},
    {"mono22050_to_44100", [] { return sourceWav(22050, 1, 2.5, "m22.wav"); }, 44100, 0.01},
};

class DecoderSeek : public ::testing::TestWithParam<SeekCase> {};

TEST_P(DecoderSeek, ReadAfterSeekMatchesContinuousDecode) {
    const SeekCase& c = GetParam();
    const QString path = c.make();
    auto decoder = openOrFail(path, c.outputRate, 2);
    ASSERT_TRUE(decoder);
    const std::vector<float> continuous = readAll(*decoder);
    ASSERT_EQ(int64_t(continuous.size()) / 2, decoder->lengthFrames());

    // Where the click is in a continuous decode; for PCM exactly where it was written.
    const int64_t click = loudestFrame(continuous, 2, decoder->lengthFrames() / 2);
    ASSERT_GE(click, 10);
    // Lossy codecs place it by their own delays (checked against ffmpeg below).
    if (c.tolerance == 0.0) {
        EXPECT_EQ(click, kClickFrame);
    }
    if (c.outputRate) {
        EXPECT_NEAR(double(click), double(kClickFrame * c.outputRate / 44100), 2.0);
    }

    const int64_t length = decoder->lengthFrames();
    for (int64_t target : {click - 10, click - 1, int64_t(1), int64_t(777), length / 2 + 3, length - 900}) {
        ASSERT_EQ(decoder->seek(target), err::Ok);
        EXPECT_EQ(decoder->position(), target);
        std::vector<float> block(2 * 2000);
        const int64_t n = decoder->read(block.data(), 2000);
        ASSERT_EQ(n, std::min<int64_t>(2000, length - target)) << "target " << target;
        double worst = 0;
        for (int64_t i = 0; i < n * 2; ++i)
            worst = std::max(worst, std::fabs(double(block[size_t(i)]) - continuous[size_t(target * 2 + i)]) * 32768.0);
        EXPECT_LE(worst, c.tolerance) << "target " << target;
    }

    // The independent decoder agrees on what lies at the click.
    if (c.outputRate == 0) {
        ASSERT_EQ(decoder->seek(click - 10), err::Ok);
        std::vector<float> block(2 * 100);
        ASSERT_EQ(decoder->read(block.data(), 100), 100);
        const std::vector<int16_t> reference = ts::ffmpegDecode(path, 0, 2);
        const std::vector<int16_t> atClick(reference.begin() + (click - 10) * 2, reference.begin() + (click + 90) * 2);
        EXPECT_LE(maxDifference(block, atClick), c.tolerance + 1.0);
        EXPECT_EQ(loudestFrame(reference, 2, int64_t(reference.size()) / 4), click);
    }

    // Seeking to the end reads nothing; beyond it is clamped.
    EXPECT_EQ(decoder->seek(length + 1000), err::Ok);
    EXPECT_EQ(decoder->position(), length);
    float sink[8];
    EXPECT_EQ(decoder->read(sink, 4), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, DecoderSeek, ::testing::ValuesIn(kSeekCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Conversion to 44100 Hz stereo gives the count and the samples the ffmpeg command line
// gives with -ar 44100 -ac 2; mono becomes two equal channels at the mono's level
// (ffmpeg's -ac 2 lowers it by 3 dB, so the mono reference is resampled alone).
TEST(DecoderConversion, ResampledCountAndSamplesMatchCommandLine) {
    for (const QString& path : {encoded(sourceWav(48000, 2, 3.0, "s48.wav"), "w24.wav", {"-c:a", "pcm_s24le"}),
                                encoded(stereo44(), "a.opus", {"-c:a", "libopus"})}) {
        auto decoder = openOrFail(path, 44100, 2);
        ASSERT_TRUE(decoder);
        const std::vector<int16_t> reference = ts::ffmpegDecode(path, 44100, 2);
        EXPECT_EQ(decoder->lengthFrames(), int64_t(reference.size()) / 2) << path.toStdString();
        const std::vector<float> ours = readAll(*decoder);
        EXPECT_EQ(ours.size(), reference.size());
        EXPECT_LE(maxDifference(ours, reference), 2.0) << path.toStdString();
    }
}

TEST(DecoderConversion, MonoBecomesTwoEqualChannelsAtFullLevel) {
    const QString path = sourceWav(22050, 1, 2.5, "m22.wav");
    auto decoder = openOrFail(path, 44100, 2);
    ASSERT_TRUE(decoder);
    const std::vector<float> ours = readAll(*decoder);
    const std::vector<int16_t> mono = ts::ffmpegDecode(path, 44100, 1);
    ASSERT_EQ(ours.size(), mono.size() * 2);
    double worst = 0;
    for (size_t i = 0; i < mono.size(); ++i) {
        ASSERT_EQ(ours[2 * i], ours[2 * i + 1]);
        worst = std::max(worst, std::fabs(ours[2 * i] * 32768.0 - mono[i]));
    }
    EXPECT_LE(worst, 2.0);
}

// Files that are not decodable audio are refused with -6, quickly and without a crash.
TEST(DecoderFailures, NotAudioIsInvalidSoundFile) {
    const QString empty = fixtures().path("empty.mp3");
    QFile(empty).open(QIODevice::WriteOnly);
    const QString noise = fixtures().path("noise.mp3");
    {
        QFile f(noise);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        uint32_t state = 12345;
        for (auto& b : bytes) b = char((state = state * 1664525u + 1013904223u) >> 24);
        f.write(bytes);
    }
    const QString text = fixtures().path("text.wav");
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("This is not a sound file, only some text.\n");
    }
    const QString directory = fixtures().path("folder.wav");
    QDir().mkpath(directory);
    for (const QString& path : {fixtures().path("missing.wav"), empty, noise, text, directory}) {
        const auto decoder = AudioDecoder::open(path, 44100, 2);
        EXPECT_FALSE(decoder) << path.toStdString();
        EXPECT_EQ(decoder.failure().code, err::InvalidSoundFile) << path.toStdString();
    }
}

// A relative name FFmpeg would take for a protocol ("pipe:0" reads standard input) is
// still the file of that name.
TEST(DecoderFailures, FileNamedLikeAProtocolIsAFile) {
    const QString mp3 = cbrMp3();
    ASSERT_TRUE(QFile::copy(mp3, fixtures().path("pipe:0")));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(fixtures().dir.path());
    auto decoder = AudioDecoder::open("pipe:0", 0, 0);
    QDir::setCurrent(previous);
    ASSERT_TRUE(decoder);
    EXPECT_EQ((*decoder)->lengthFrames(), int64_t(ts::ffmpegDecode(mp3).size()) / 2);
}

QString truncatedCopy(const QString& from, const QString& name, double keep) {
    QFile in(from);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    const QString path = fixtures().path(name);
    QFile out(path);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes.left(int(bytes.size() * keep)));
    return path;
}

// A truncated file reads as far as it holds and reports that as its length, as the
// ffmpeg command line counts it.
TEST(DecoderDamage, TruncatedFilesReadToTheirEnd) {
    const QString mp3 = truncatedCopy(cbrMp3(), "truncated.mp3", 0.55);
    const QString m4a = truncatedCopy(
        encoded(stereo44(), "faststart.m4a", {"-c:a", "aac", "-movflags", "+faststart"}), "truncated.m4a", 0.6);
    // A WAV whose header promises more data than follows.
    const QString wav = truncatedCopy(stereo44(), "truncated.wav", 0.4);
    for (const QString& path : {mp3, m4a, wav}) {
        auto decoder = openOrFail(path);
        ASSERT_TRUE(decoder);
        const int64_t readable = int64_t(ts::ffmpegDecode(path).size()) / 2;
        const std::vector<float> ours = readAll(*decoder);
        EXPECT_EQ(int64_t(ours.size()) / 2, readable) << path.toStdString();
        EXPECT_EQ(decoder->lengthFrames(), readable) << path.toStdString();
        EXPECT_GT(readable, 44100) << path.toStdString();
    }
    // MP4 written with its index at the end loses it to truncation: nothing to decode.
    const QString headless =
        truncatedCopy(encoded(stereo44(), "a.m4a", {"-c:a", "aac", "-b:a", "128k"}), "headless.m4a", 0.6);
    const auto decoder = AudioDecoder::open(headless, 0, 0);
    EXPECT_FALSE(decoder);
    EXPECT_EQ(decoder.failure().code, err::InvalidSoundFile);
}

// Decoders share no state: two threads decoding the same file get the same samples.
TEST(DecoderThreads, IndependentDecodersRunInParallel) {
    const QString path = vbrMp3();
    std::vector<float> results[2];
    std::thread workers[2];
    for (int i = 0; i < 2; ++i)
        workers[i] = std::thread([&, i] {
            if (auto decoder = AudioDecoder::open(path, 48000, 2)) results[i] = readAll(**decoder);
        });
    for (auto& w : workers) w.join();
    ASSERT_FALSE(results[0].empty());
    EXPECT_EQ(results[0], results[1]);
}

}  // namespace
