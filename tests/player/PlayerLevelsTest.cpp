// Level events: the peaks of what is heard while playing, one 0, 0 after a stop or
// pause, and every event delivered through the event loop.
#include "PlayerTestKit.h"

#include "components/errors/modSoundErrDesc.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace playertest;
using clipwren::SoundPlayer;
namespace err = clipwren::err;

namespace {

struct Level {
    int left;
    int right;
};

Level levelAt(const QSignalSpy& spy, qsizetype i) {
    return {spy.at(i).at(1).toInt(), spy.at(i).at(2).toInt()};
}

// A stereo tone on the left only, 0.5 of full scale.
QString leftOnlyWav(PlayerFixture& f) {
    auto samples = testsupport::tone(kRate, 2, 3 * kRate, 500.0, 0.5);
    for (size_t i = 1; i < samples.size(); i += 2) samples[i] = 0.0f;
    const QString file = f.path("left.wav");
    testsupport::writeWav(file, kRate, 2, samples);
    return file;
}

TEST(PlayerLevels, PeaksWhilePlayingThenZeroAfterStop) {
    PlayerFixture f;
    ASSERT_EQ(f.player->OpenFile(0, leftOnlyWav(f)), err::Ok);
    QSignalSpy spy(f.player.get(), &SoundPlayer::LevelsChanged);

    ASSERT_EQ(f.player->Play(0), err::Ok);
    EXPECT_EQ(spy.count(), 0);
    ASSERT_TRUE(waitFor([&] { return spy.count() >= 10; }));
    bool sawTone = false;
    for (qsizetype i = 0; i < spy.count(); ++i) {
        EXPECT_EQ(spy.at(i).at(0).toInt(), 0);
        const Level l = levelAt(spy, i);
        EXPECT_LE(l.left, 16500);
        EXPECT_EQ(l.right, 0);
        if (l.left > 16000) sawTone = true;
    }
    EXPECT_TRUE(sawTone);

    const qsizetype atStop = spy.count();
    ASSERT_EQ(f.player->Stop(0), err::Ok);
    EXPECT_EQ(spy.count(), atStop);  // nothing arrives inside the call
    ASSERT_TRUE(waitFor([&] { return spy.count() > atStop; }));
    spin(200);
    ASSERT_EQ(spy.count(), atStop + 1);
    EXPECT_EQ(levelAt(spy, atStop).left, 0);
    EXPECT_EQ(levelAt(spy, atStop).right, 0);
}

TEST(PlayerLevels, MonoFeedsBothAndPauseAndEndSendZero) {
    PlayerFixture f;
    const QString mono = f.path("mono.wav");
    testsupport::writeWav(mono, 22050, 1, testsupport::tone(22050, 1, 22050, 300.0, 0.25));
    ASSERT_EQ(f.player->OpenFile(0, mono), err::Ok);
    QSignalSpy spy(f.player.get(), &SoundPlayer::LevelsChanged);

    ASSERT_EQ(f.player->Play(0), err::Ok);
    // A tick may find nothing heard yet when the output thread is kept waiting on a busy machine.
    ASSERT_TRUE(waitFor([&] { return spy.count() >= 5 && levelAt(spy, spy.count() - 1).left > 0; }));
    const Level playing = levelAt(spy, spy.count() - 1);
    EXPECT_NEAR(playing.left, 8192, 400);
    EXPECT_EQ(playing.left, playing.right);

    const qsizetype atPause = spy.count();
    ASSERT_EQ(f.player->Pause(0), err::Ok);
    EXPECT_EQ(spy.count(), atPause);
    ASSERT_TRUE(waitFor([&] { return spy.count() > atPause; }));
    spin(200);
    ASSERT_EQ(spy.count(), atPause + 1);
    EXPECT_EQ(levelAt(spy, atPause).left, 0);

    // Played to its end: the last event is 0, 0 as after a stop.
    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->State(0) == SoundPlayer::Stopped; }));
    spin(200);
    EXPECT_EQ(levelAt(spy, spy.count() - 1).left, 0);
    EXPECT_EQ(levelAt(spy, spy.count() - 1).right, 0);
}

TEST(PlayerLevels, SwitchedOffSendsNothing) {
    PlayerFixture f;
    ASSERT_EQ(f.player->PlayerOptions().LevelEvents(0, 0), err::Ok);
    ASSERT_EQ(f.player->OpenFile(0, leftOnlyWav(f)), err::Ok);
    QSignalSpy spy(f.player.get(), &SoundPlayer::LevelsChanged);
    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 300; }));
    ASSERT_EQ(f.player->Stop(0), err::Ok);
    spin(100);
    EXPECT_EQ(spy.count(), 0);
}

}  // namespace
