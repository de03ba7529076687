// Length and loading: exact lengths against the ffmpeg command line for every input
// format, and files that cannot be loaded leaving the player empty.
#include "PlayerTestKit.h"

#include "components/errors/modSoundErrDesc.h"
#include "support/TestSupport.h"

#include <QFile>
#include <cmath>
#include <gtest/gtest.h>

using namespace playertest;
using clipwren::SoundPlayer;
namespace err = clipwren::err;

namespace {

struct FormatCase {
    const char* name;
    const char* fileName;
    int rate;
    int channels;
    QStringList encodeArgs;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class PlayerLength : public ::testing::TestWithParam<FormatCase> {};

TEST_P(PlayerLength, MatchesIndependentDecode) {
    const FormatCase& c = GetParam();
    PlayerFixture f;
    const QString wav = f.path("source.wav");
    testsupport::writeWav(wav, c.rate, c.channels, testsupport::tone(c.rate, c.channels, int64_t(2.3 * c.rate), 330.0));
    QString file = wav;
    if (!c.encodeArgs.isEmpty()) {
        file = f.path(c.fileName);
        testsupport::ffmpegConvert(wav, file, c.encodeArgs);
    }
    const auto probe = testsupport::ffprobe(file);
    const int rate = std::stoi(probe.at("sample_rate"));
    const int channels = std::stoi(probe.at("channels"));
    const auto decoded = testsupport::ffmpegDecode(file);
    const double expectedMs = double(decoded.size() / size_t(channels)) * 1000.0 / rate;

    ASSERT_EQ(f.player->OpenFile(0, file), err::Ok);
    EXPECT_EQ(f.player->FileName(0), file);
    EXPECT_NEAR(f.player->Length(0), expectedMs, 1.0);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);
    EXPECT_EQ(f.player->Position(0), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PlayerLength,
    ::testing::Values(
        FormatCase{"Wav", "", 44100, 2, {}},
        FormatCase{"MonoWav22050", "", 22050, 1, {}},
        FormatCase{"Mp3Vbr", "vbr.mp3", 44100, 2, {"-c:a", "libmp3lame", "-q:a", "4"}},
        // No Xing/LAME header: the length has to come from counting frames.
        FormatCase{"Mp3VbrNoHeader", "bare.mp3", 44100, 2, {"-c:a", "libmp3lame", "-q:a", "2", "-write_xing", "0"}},
        FormatCase{"Mp3Mono22050", "mono.mp3", 22050, 1, {"-c:a", "libmp3lame", "-b:a", "64k"}},
        FormatCase{"Wma", "a.wma", 44100, 2, {"-c:a", "wmav2", "-b:a", "128k"}},
        FormatCase{"M4a", "a.m4a", 44100, 2, {"-c:a", "aac", "-b:a", "128k"}},
        FormatCase{"Mp4", "a.mp4", 44100, 2, {"-c:a", "aac", "-b:a", "128k"}},
        FormatCase{"AdtsAac", "a.aac", 44100, 2, {"-c:a", "aac", "-b:a", "128k"}},
        FormatCase{"OggVorbis", "a.ogg", 44100, 2, {"-c:a", "libvorbis", "-q:a", "4"}},
        FormatCase{"OggOpus", "opus.ogg", 48000, 2, {"-c:a", "libopus", "-b:a", "96k"}},
        FormatCase{"SurroundWav", "six.wav", 48000, 6, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way a load can fail leaves nothing loaded, also when a good file was loaded before.
TEST(PlayerLoad, FailedLoadLeavesPlayerEmpty) {
    PlayerFixture f;
    const QString good = f.clickWav("good.wav", 1.0, {});

    const QString notAudio = f.path("notes.mp3");
    {
        QFile text(notAudio);
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write(QByteArray("these are not the sounds you are looking for\n").repeated(50));
    }
    const QString empty = f.path("empty.wav");
    QFile(empty).open(QIODevice::WriteOnly);
    const QString headerOnly = f.path("header-only.wav");
    {
        QFile whole(good);
        ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
        QFile cut(headerOnly);
        ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
        cut.write(whole.read(44));
    }
    const QString missing = f.path("missing.wav");
    const QString unreadable = f.path("unreadable.wav");
    QFile::copy(good, unreadable);
    QFile::setPermissions(unreadable, QFileDevice::Permissions());

    QStringList badFiles{notAudio, empty, headerOnly, missing};
    if (!QFile(unreadable).open(QIODevice::ReadOnly)) badFiles << unreadable;  // root reads anything

    for (const QString& bad : badFiles) {
        SCOPED_TRACE(bad.toStdString());
        ASSERT_EQ(f.player->OpenFile(0, good), err::Ok);
        ASSERT_EQ(f.player->Play(0), err::Ok);
        const int32_t result = f.player->OpenFile(0, bad);
        EXPECT_LT(result, 0);
        EXPECT_FALSE(clipwren::GetErrorDescription(result).isEmpty());
        EXPECT_TRUE(f.player->FileName(0).isEmpty());
        EXPECT_EQ(f.player->Length(0), 0);
        EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);
        EXPECT_EQ(f.player->Play(0), err::NoSoundLoaded);
        EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);
    }
}

TEST(PlayerLoad, OnlyPlayerZeroExists) {
    PlayerFixture f;
    const QString good = f.clickWav("good.wav", 0.5, {});
    EXPECT_EQ(f.player->OpenFile(1, good), err::InvalidPlayer);
    ASSERT_EQ(f.player->OpenFile(0, good), err::Ok);
    EXPECT_EQ(f.player->Length(1), err::InvalidPlayer);
    EXPECT_EQ(f.player->Play(-1), err::InvalidPlayer);
    EXPECT_EQ(f.player->Seek(2, 100), err::InvalidPlayer);
    EXPECT_EQ(f.player->PlayerOptions().LevelEvents(1, 1), err::InvalidPlayer);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);
    EXPECT_EQ(f.player->Length(0), 500);
}

}  // namespace
