// The encoder and container path on synthetic audio, checked with ffprobe/ffmpeg.
#include "SoundEditorTestUtil.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/EncodedFileWriter.h"
#include "components/soundeditor/FormatTable.h"
#include "components/soundeditor/OutputFormatForPath.h"
#include "components/soundeditor/PendingOutputFile.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace clipwren;
using namespace clipwren::soundeditor;
using namespace soundeditortest;

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;

// Encodes the samples to path with the settings that the path's name selects.
int32_t encodeForPath(const QString& path, const std::vector<float>& samples, int channels = kChannels) {
    OutputFormatSettings settings;
    SetOutputFormatForPath(settings, path);
    Encoding encoding;
    int32_t result = chooseEncoding(settings, path, channels, &encoding);
    if (result != err::Ok) return result;
    auto writer = EncodedFileWriter::open(path, encoding, kRate, channels, &result);
    if (!writer) return result;
    // Uneven pieces, so frame boundaries and pieces never line up.
    const int64_t frames = int64_t(samples.size()) / channels;
    for (int64_t at = 0; at < frames;) {
        const int64_t piece = std::min<int64_t>(3001, frames - at);
        if ((result = writer->write(samples.data() + at * channels, piece)) != err::Ok) return result;
        at += piece;
    }
    return writer->finish();
}

// Deterministic white noise: keeps the encoders at their full bit rate.
std::vector<float> noise(int channels, int64_t frames, float amplitude) {
    std::vector<float> samples(size_t(frames * channels));
    uint32_t state = 12345;
    for (float& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = amplitude * (float(state >> 8) / float(1 << 23) - 1.0f);
    }
    return samples;
}

TEST(OutputFormatForPath, ChoosesSettingsByLastThreeCharactersIgnoringCase) {
    OutputFormatSettings s;
    SetOutputFormatForPath(s, "/x/Song-part.MP3");
    EXPECT_EQ(s.FormatCode, 2);
    EXPECT_EQ(s.Mp3Options.Mode, 1);
    EXPECT_EQ(s.Mp3Options.BitRate, 128000);
    SetOutputFormatForPath(s, "C:\\a\\b.wma");
    EXPECT_EQ(s.FormatCode, 3);
    SetOutputFormatForPath(s, "b.aac");
    EXPECT_EQ(s.FormatCode, 6);
    EXPECT_FALSE(s.AacOptions.Mp4Container);
    EXPECT_EQ(s.AacOptions.Quality, 100);
    SetOutputFormatForPath(s, "b.Mp4");
    EXPECT_EQ(s.FormatCode, 6);
    EXPECT_TRUE(s.AacOptions.Mp4Container);
    SetOutputFormatForPath(s, "b.ogg");
    EXPECT_EQ(s.FormatCode, 4);
    EXPECT_EQ(s.OggOptions.Quality, 4);
    SetOutputFormatForPath(s, "b.m4a");
    EXPECT_EQ(s.FormatCode, 1);
    EXPECT_EQ(s.DefaultOptions.Mode, 1);
    // Only the last three characters count: "xmp3" is MP3, "mp3.wav" is not.
    SetOutputFormatForPath(s, "noextmp3");
    EXPECT_EQ(s.FormatCode, 2);
    SetOutputFormatForPath(s, "a.mp3.wav");
    EXPECT_EQ(s.FormatCode, 1);
}

TEST(FormatTable, RejectsUnknownCodesModesAndValues) {
    Encoding encoding;
    OutputFormatSettings s;
    s.FormatCode = 5;
    EXPECT_EQ(chooseEncoding(s, "a.wav", 2, &encoding), err::InvalidExportSettings);
    s.FormatCode = 4;
    s.OggOptions.Quality = 11;
    EXPECT_EQ(chooseEncoding(s, "a.ogg", 2, &encoding), err::InvalidExportSettings);
    s.FormatCode = 6;
    s.AacOptions.Quality = 0;
    EXPECT_EQ(chooseEncoding(s, "a.aac", 2, &encoding), err::InvalidExportSettings);
    s.FormatCode = 2;
    s.Mp3Options.Mode = 7;
    EXPECT_EQ(chooseEncoding(s, "a.mp3", 2, &encoding), err::InvalidExportSettings);
}

TEST(FormatTable, DefaultFormatFollowsTheOutputExtension) {
    OutputFormatSettings s;
    Encoding e;
    ASSERT_EQ(chooseEncoding(s, "/d/a.M4R", 2, &e), err::Ok);
    EXPECT_STREQ(e.codec, "aac");
    ASSERT_EQ(chooseEncoding(s, "/d/a.flac", 2, &e), err::Ok);
    EXPECT_STREQ(e.codec, "flac");
    ASSERT_EQ(chooseEncoding(s, "/d/a.xyz", 2, &e), err::Ok);
    EXPECT_STREQ(e.codec, "pcm_s16le");
    // Top AAC quality is at least 160 kbit/s for stereo, and quality scales the rate.
    EXPECT_GE(aacBitRateForQuality(100, 2), 160000);
    EXPECT_LT(aacBitRateForQuality(50, 2), aacBitRateForQuality(100, 2));
}

struct OutputCase {
    const char* suffix;
    const char* codec;
    const char* container;  // first name of ffprobe's format_name
    int64_t bitRate;        // expected nominal bit rate, 0 when not checked
    // Decoded length: exactly the written length; or, where FFmpeg's decoder does not
    // apply the end of an MP4 edit list, the declared length (ffprobe's duration_ts) is
    // exact and the decoded one carries at most one AAC frame of padding.
    enum class Length { Exact, DeclaredExact, Unchecked } length;
    // Where the click lands relative to where it was written. ADTS has no place for the
    // AAC encoder's 1024 priming samples; FFmpeg's WMA decoder drops its first 2048-sample block.
    int shift;
    int tolerance;  // frames
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << c.suffix; }

class EncodedOutput : public ::testing::TestWithParam<OutputCase> {};

TEST_P(EncodedOutput, HasCodecContainerFormatAndTheClickInPlace) {
    const OutputCase c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out") + c.suffix);
    const int64_t frames = 2 * kRate + 123;
    const int64_t clickFrame = 30011;
    auto samples = noise(kChannels, frames, 0.3f);
    testsupport::addClick(samples, kChannels, clickFrame, 0.95f);
    ASSERT_EQ(encodeForPath(path, samples), err::Ok);

    const auto probe = testsupport::ffprobe(path);
    EXPECT_EQ(probe.at("codec_name"), c.codec);
    EXPECT_EQ(QString::fromStdString(probe.at("format_format_name")).split(',').first().toStdString(), c.container);
    EXPECT_EQ(probe.at("sample_rate"), "44100");
    EXPECT_EQ(probe.at("channels"), "2");
    if (c.bitRate > 0) {
        const double rate = probeNumber(probe, "bit_rate") > 0 ? probeNumber(probe, "bit_rate")
                                                                : probeNumber(probe, "format_bit_rate");
        EXPECT_NEAR(rate, double(c.bitRate), c.bitRate * 0.1) << c.suffix;
    }
    const auto decoded = testsupport::ffmpegDecode(path);
    const int64_t decodedFrames = int64_t(decoded.size()) / kChannels;
    if (c.length == OutputCase::Length::Exact) {
        EXPECT_EQ(decodedFrames, frames) << c.suffix;
    } else if (c.length == OutputCase::Length::DeclaredExact) {
        EXPECT_EQ(declaredFrames(path), frames) << c.suffix;
        EXPECT_GE(decodedFrames, frames);
        EXPECT_LT(decodedFrames, frames + 1024);
    }
    EXPECT_NEAR(double(peakFrame(decoded, kChannels)), double(clickFrame + c.shift), c.tolerance) << c.suffix;
}

INSTANTIATE_TEST_SUITE_P(
    AllOutputs, EncodedOutput,
    ::testing::Values(OutputCase{".wav", "pcm_s16le", "wav", 0, OutputCase::Length::Exact, 0, 0},
                      OutputCase{".mp3", "mp3", "mp3", 128000, OutputCase::Length::Exact, 0, 3},
                      OutputCase{".MP3", "mp3", "mp3", 128000, OutputCase::Length::Exact, 0, 3},
                      OutputCase{".m4a", "aac", "mov", 256000, OutputCase::Length::DeclaredExact, 0, 3},
                      OutputCase{".mp4", "aac", "mov", 256000, OutputCase::Length::DeclaredExact, 0, 3},
                      OutputCase{".aac", "aac", "aac", 256000, OutputCase::Length::Unchecked, 1024, 3},
                      OutputCase{".ogg", "vorbis", "ogg", 128000, OutputCase::Length::Exact, 0, 3},
                      OutputCase{".wma", "wmav2", "asf", 128000, OutputCase::Length::Unchecked, -2048, 3},
                      OutputCase{".flac", "flac", "flac", 0, OutputCase::Length::Exact, 0, 0}),
    [](const auto& info) { return QString(info.param.suffix).mid(1).toStdString() + std::to_string(info.index); });

TEST(PendingOutputFile, CreatesMissingFolderAndReplacesOnlyOnCommit) {
    QTemporaryDir dir;
    const QString target = dir.filePath("new/folder/out.wav");
    {
        PendingOutputFile pending(target);
        ASSERT_EQ(pending.create(), err::Ok);
        EXPECT_TRUE(QDir(dir.filePath("new/folder")).exists());
        EXPECT_EQ(QFileInfo(pending.temporaryPath()).absolutePath(), QFileInfo(target).absolutePath());
    }
    // Never committed: nothing left behind.
    EXPECT_TRUE(QDir(dir.filePath("new/folder")).entryList(QDir::Files | QDir::Hidden).isEmpty());

    QFile existing(target);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();
    PendingOutputFile pending(target);
    ASSERT_EQ(pending.create(), err::Ok);
    QFile temp(pending.temporaryPath());
    ASSERT_TRUE(temp.open(QIODevice::WriteOnly));
    temp.write("new content");
    temp.close();
    ASSERT_EQ(pending.commit(), err::Ok);
    QFile result(target);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll(), "new content");
    EXPECT_EQ(QDir(dir.filePath("new/folder")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

}  // namespace
