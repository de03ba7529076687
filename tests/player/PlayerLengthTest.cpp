// Length and loading: exact lengths against the ffmpeg command line, and files that
// cannot be loaded leaving the player empty.
#include "PlayerTestKit.h"

#include "components/errors/modSoundErrDesc.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

using namespace playertest;
using clipwren::SoundPlayer;
namespace err = clipwren::err;

namespace {

// Every input format's length is checked in the decoder's own tests; here the player
// reports it, at its output's rate, for the files whose length is hardest to find: a
// VBR MP3 with and without its header, and a mono 22050 Hz file.
TEST(PlayerLength, MatchesIndependentDecode) {
    struct Case {
        const char* fileName;
        int rate;
        int channels;
        QStringList encodeArgs;
    };
    const Case cases[] = {
        {"mono22050.wav", 22050, 1, {}},
        {"vbr.mp3", 44100, 2, {"-c:a", "libmp3lame", "-q:a", "4"}},
        {"bare.mp3", 44100, 2, {"-c:a", "libmp3lame", "-q:a", "2", "-write_xing", "0"}},
    };
    PlayerFixture f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileName);
        const QString wav = f.path(QStringLiteral("source-%1.wav").arg(c.rate));
        testsupport::writeWav(wav, c.rate, c.channels,
                              testsupport::tone(c.rate, c.channels, int64_t(2.3 * c.rate), 330.0));
        QString file = wav;
        if (!c.encodeArgs.isEmpty()) {
            file = f.path(c.fileName);
            testsupport::ffmpegConvert(wav, file, c.encodeArgs);
        }
        const int rate = std::stoi(testsupport::ffprobe(file).at("sample_rate"));
        const double expectedMs = double(testsupport::ffmpegDecode(file, 0, c.channels).size() / size_t(c.channels)) *
                                  1000.0 / rate;

        // Loaded from an event handler, as the window loads: the length is found off the
        // window's thread, its events flowing meanwhile.
        bool eventsFlowed = false;
        int32_t opened = 1;
        QEventLoop windowLoop;
        QTimer::singleShot(0, [&] {
            QTimer::singleShot(0, [&eventsFlowed] { eventsFlowed = true; });
            opened = f.player->OpenFile(0, file);
            windowLoop.quit();
        });
        windowLoop.exec();
        ASSERT_EQ(opened, err::Ok);
        EXPECT_TRUE(eventsFlowed);
        EXPECT_EQ(f.player->FileName(0), file);
        EXPECT_NEAR(f.player->Length(0), expectedMs, 1.0);
        EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);
        EXPECT_EQ(f.player->Position(0), 0);
    }
}

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
