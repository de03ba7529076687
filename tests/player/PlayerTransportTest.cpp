// Transport: states, seeking, play-marked ranges and the position clock, checked
// on the audio the output is handed and against a continuous ffmpeg decode.
#include "PlayerTestKit.h"

#include "components/errors/modSoundErrDesc.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace playertest;
using clipwren::SoundPlayer;
namespace err = clipwren::err;

namespace {

constexpr int64_t kClickFrame = 72000;  // 1.5 s
constexpr int64_t kOutputPeriodFrames = 1024;  // what the recording output asks for at a time

TEST(PlayerSeek, FirstAudioAfterSeekMatchesContinuousDecode) {
    PlayerFixture f(kRate);
    const QString file = f.clickWav("click.wav", 3.0, {kClickFrame});
    ASSERT_EQ(f.player->OpenFile(0, file), err::Ok);
    spin(200);  // the start of the sound is decoded ahead by now: the seek must drop it

    const int32_t seekMs = 1490;
    const int64_t seekFrame = int64_t(seekMs) * kRate / 1000;
    ASSERT_EQ(f.player->Seek(0, seekMs), err::Ok);
    EXPECT_EQ(f.player->Position(0), seekMs);  // while stopped, where Play will start
    EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);

    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.sound.frames() >= 4800; }));
    EXPECT_EQ(f.sound.firstAbove(0.5f), kClickFrame - seekFrame);

    const auto reference = testsupport::ffmpegDecode(file, kRate, 2);
    for (int64_t i = 0; i < 4800; ++i)
        for (int ch = 0; ch < 2; ++ch)
            ASSERT_NEAR(f.sound.sample(i, ch) * 32768.0f, float(reference[size_t((seekFrame + i) * 2 + ch)]), 1.5f)
                << "frame " << i;
}

TEST(PlayerSeek, SeekWhilePlayingMovesPositionAndKeepsPlaying) {
    PlayerFixture f;
    ASSERT_EQ(f.player->OpenFile(0, f.clickWav("long.wav", 8.0, {})), err::Ok);
    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 100; }));
    ASSERT_EQ(f.player->Seek(0, 5000), err::Ok);
    EXPECT_GE(f.player->Position(0), 5000);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 5100; }));
    EXPECT_LT(f.player->Position(0), 8000);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Playing);

    // Paused, a seek moves the position and playing resumes from there.
    ASSERT_EQ(f.player->Pause(0), err::Ok);
    ASSERT_EQ(f.player->Seek(0, 1000), err::Ok);
    EXPECT_EQ(f.player->Position(0), 1000);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Paused);
    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 1050; }));
    EXPECT_LT(f.player->Position(0), 4000);

    // Beyond the end clamps to the end.
    ASSERT_EQ(f.player->Pause(0), err::Ok);
    ASSERT_EQ(f.player->Seek(0, 999999), err::Ok);
    EXPECT_EQ(f.player->Position(0), f.player->Length(0));
}

TEST(PlayerTransport, PauseResumeStopAndEnd) {
    PlayerFixture f;
    ASSERT_EQ(f.player->OpenFile(0, f.clickWav("tone.wav", 6.0, {})), err::Ok);
    EXPECT_EQ(f.player->Pause(0), err::Ok);  // nothing playing: nothing happens
    EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);

    ASSERT_EQ(f.player->Play(0), err::Ok);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Playing);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 300; }));

    ASSERT_EQ(f.player->Pause(0), err::Ok);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Paused);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 100; }));

    ASSERT_EQ(f.player->Stop(0), err::Ok);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);
    EXPECT_EQ(f.player->Position(0), 0);
    spin(100);
    EXPECT_EQ(f.player->Position(0), 0);

    // The end of the sound stops playback and returns to the start.
    ASSERT_EQ(f.player->Seek(0, 5700), err::Ok);
    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->State(0) == SoundPlayer::Stopped; }));
    EXPECT_EQ(f.player->Position(0), 0);
    ASSERT_EQ(f.player->Play(0), err::Ok);  // and plays again from the start
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 50; }));
    EXPECT_LT(f.player->Position(0), 3000);
}

// A mark taken right after Pause must match every later read, and the resumed sound
// must go on from that very frame, though the output still held audio past it.
TEST(PlayerTransport, PauseHoldsItsPositionAndResumesThere) {
    PlayerFixture f(4 * kRate);
    ASSERT_EQ(f.player->OpenFile(0, f.clickWav("click.wav", 3.0, {kClickFrame})), err::Ok);
    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 1000; }));

    ASSERT_EQ(f.player->Pause(0), err::Ok);
    const int32_t pausedAt = f.player->Position(0);
    ASSERT_LT(pausedAt, 1450);
    EXPECT_FALSE(waitFor([&] { return f.player->Position(0) != pausedAt; }, 300));

    const int64_t resumedAt = f.sound.handedFrames();
    ASSERT_EQ(f.player->Play(0), err::Ok);
    EXPECT_GE(f.player->Position(0), pausedAt);
    ASSERT_TRUE(waitFor([&] { return f.sound.frames() > resumedAt + kRate; }));
    const int64_t pausedFrame = int64_t(pausedAt) * kRate / 1000;
    EXPECT_NEAR(double(f.sound.firstAbove(0.5f, resumedAt) - resumedAt), double(kClickFrame - pausedFrame),
                kRate / 1000);
}

// A marked piece plays exactly its frames; looping, it starts again at its begin straight
// after its end, pass after pass with no gap, until Stop, or to the end of the pass in
// which looping is switched off; shaped, it has the fades and gain a saved piece gets.
TEST(PlayerRange, PlaysExactlyTheMarkedPieceOnceLoopedOrShaped) {
    constexpr int64_t kPiece = 19200;  // 1000..1400 ms
    enum class How { Once, Looped, LoopEndedInPass, Shaped };
    std::vector<float> once;  // the Once row's recording, which the Shaped row is compared with
    for (const How how : {How::Once, How::Looped, How::LoopEndedInPass, How::Shaped}) {
        SCOPED_TRACE(int(how));
        PlayerFixture f(4 * kPiece);
        // Clicks on the first frame of the piece and on the first frame after it.
        const QString file = f.clickWav("range.wav", 3.0, {48000, 67200});
        ASSERT_EQ(f.player->OpenFile(0, file), err::Ok);
        const bool looped = how == How::Looped || how == How::LoopEndedInPass;
        f.player->SetRangeLooping(0, looped);
        if (how == How::Shaped) f.player->SetRangeShaping(0, {{0.1, 0.05}, std::nullopt});
        spin(200);

        ASSERT_EQ(f.player->PlayRange(0, 1000, 1400), err::Ok);
        EXPECT_EQ(f.player->State(0), SoundPlayer::Playing);
        if (how == How::Looped) {
            ASSERT_TRUE(waitFor([&] { return f.sound.frames() >= 3 * kPiece; }));
            EXPECT_EQ(f.player->State(0), SoundPlayer::Playing);
            EXPECT_EQ(f.player->Stop(0), err::Ok);
        }
        if (how == How::LoopEndedInPass) {
            ASSERT_TRUE(waitFor([&] { return f.sound.handedFrames() >= kPiece + kPiece / 2; }));
            f.player->SetRangeLooping(0, false);
        }
        ASSERT_TRUE(waitFor([&] { return f.player->State(0) == SoundPlayer::Stopped; }));
        EXPECT_EQ(f.player->Position(0), 0);
        const int64_t passes = how == How::Looped ? 3 : how == How::LoopEndedInPass ? 2 : 1;
        if (how != How::Looped) {
            EXPECT_EQ(f.sound.handedFrames(), passes * kPiece);
        }
        if (how == How::Shaped) {
            // Fades of 4800 and 2400 frames, from silence and back to it, the middle as it was.
            for (int64_t i = 0; i < kPiece; ++i) {
                const double in = std::min(1.0, double(i) / 4800);
                const double out = std::min(1.0, double(kPiece - 1 - i) / 2400);
                ASSERT_NEAR(f.sound.sample(i, 0), once[size_t(i * 2)] * in * in * out * out, 1e-6) << i;
            }
            continue;
        }
        // Every pass starts with the piece's first frame, right after the pass before.
        for (int64_t pass = 0; pass < passes; ++pass) {
            EXPECT_EQ(f.sound.firstAbove(0.5f, pass * kPiece), pass * kPiece) << pass;
            const int64_t next = (pass + 1) * kPiece;
            EXPECT_EQ(f.sound.firstAbove(0.5f, pass * kPiece + 1), next < f.sound.frames() ? next : -1);
        }
        if (how == How::Once)
            for (int64_t i = 0; i < 2 * kPiece; ++i) once.push_back(f.sound.sample(i / 2, int(i % 2)));
    }
}

// Stretched, a piece lasts its share of the normal time and keeps its timeline, whether
// it is played marked or, with the tempo set while stopped, by Play: the start decoded
// ahead at the old tempo is not heard. Set while playing, the new tempo follows on from
// the last frame handed to the output: what was decoded ahead at the old tempo is
// neither handed out nor skipped.
TEST(PlayerRange, StretchedPieceLastsItsShare) {
    enum class TempoSet { BeforePlayMarked, BeforePlay, WhilePlaying };
    for (float change : {60.0f, -60.0f}) {
        for (TempoSet when : {TempoSet::BeforePlayMarked, TempoSet::BeforePlay, TempoSet::WhilePlaying}) {
            SCOPED_TRACE(testing::Message() << change << " set " << int(when));
            PlayerFixture f(4 * kRate);
            const bool marked = when == TempoSet::BeforePlayMarked;
            // The marked second, or the whole of a one-second sound, starts a second before the click.
            const int64_t click = marked ? kClickFrame : kClickFrame - kRate;
            ASSERT_EQ(f.player->OpenFile(0, f.clickWav("piece.wav", marked ? 3.0 : 1.0, {click})), err::Ok);
            spin(200);
            if (when != TempoSet::WhilePlaying) {
                ASSERT_EQ(f.player->SetTempo(0, change), err::Ok);
            }
            ASSERT_EQ(marked ? f.player->PlayRange(0, 1000, 2000) : f.player->Play(0), err::Ok);
            // Frames handed out at the normal tempo: the change is taken at the output's next
            // period, after those handed out by the time SetTempo has returned.
            int64_t normalFrom = 0;
            int64_t normalTo = 0;
            if (when == TempoSet::WhilePlaying) {
                ASSERT_TRUE(waitFor([&] { return f.sound.handedFrames() >= kRate / 4; }));
                normalFrom = f.sound.handedFrames();
                ASSERT_EQ(f.player->SetTempo(0, change), err::Ok);
                normalTo = f.sound.handedFrames() + kOutputPeriodFrames;
            }
            ASSERT_TRUE(waitFor([&] { return f.player->State(0) == SoundPlayer::Stopped; }));
            const double speed = 1.0 + change / 100.0;
            const auto handedWith = [&](double normal) { return normal + (kRate - normal) / speed; };
            const double tolerance = 0.01 * kRate / speed;
            EXPECT_GE(double(f.sound.handedFrames()),
                      std::min(handedWith(normalFrom), handedWith(normalTo)) - tolerance);
            EXPECT_LE(double(f.sound.handedFrames()),
                      std::max(handedWith(normalFrom), handedWith(normalTo)) + tolerance);
            // The stretcher works in overlapping sequences of up to about 0.1 s: a click may
            // first sound that much early.
            EXPECT_NEAR(double(f.sound.firstAbove(0.5f)), normalFrom + (kClickFrame - kRate - normalFrom) / speed,
                        0.15 * kRate);
        }
    }
}

TEST(PlayerRange, EndClampedAndEmptyRangePlaysNothing) {
    PlayerFixture f;
    ASSERT_EQ(f.player->OpenFile(0, f.clickWav("short.wav", 1.0, {})), err::Ok);

    ASSERT_EQ(f.player->PlayRange(0, 800, 60000), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 850; }));
    ASSERT_TRUE(waitFor([&] { return f.player->State(0) == SoundPlayer::Stopped; }));

    EXPECT_LT(f.player->PlayRange(0, 500, 500), 0);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);
    EXPECT_LT(f.player->PlayRange(0, 700, 0), 0);  // "Play marked" with the end mark cleared
    EXPECT_EQ(f.player->State(0), SoundPlayer::Stopped);
    EXPECT_EQ(f.player->Position(0), 0);
}

// Position advance against the sound handed to the output, at normal tempo and at both
// ends of the tempo range: a second of output moves the position by the tempo's share.
class PlayerTempo : public ::testing::TestWithParam<float> {};

TEST_P(PlayerTempo, PositionFollowsTheTempo) {
    const float change = GetParam();
    PlayerFixture f;
    ASSERT_EQ(f.player->OpenFile(0, f.clickWav("long.wav", 12.0, {})), err::Ok);
    ASSERT_EQ(f.player->SetTempo(0, change), err::Ok);
    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 200; }));

    // The position with the output frames handed out by then, read within one output period.
    const auto reading = [&] {
        for (;;) {
            const int64_t before = f.sound.handedFrames();
            const int32_t position = f.player->Position(0);
            if (f.sound.handedFrames() - before <= kOutputPeriodFrames) return std::pair{position, before};
        }
    };
    const auto [fromMs, fromFrames] = reading();
    ASSERT_TRUE(waitFor([&] { return f.sound.handedFrames() >= fromFrames + 2 * kRate; }));
    const auto [toMs, toFrames] = reading();
    const double outputMs = double(toFrames - fromFrames) * 1000.0 / kRate;
    const double speed = 1.0 + change / 100.0;
    // Each reading may be a period or two off, and the stretcher hands its sound out in
    // sequences of up to about 0.1 s.
    EXPECT_NEAR(double(toMs - fromMs), outputMs * speed, 0.15 * outputMs * speed);
    EXPECT_EQ(f.player->State(0), SoundPlayer::Playing);
}

INSTANTIATE_TEST_SUITE_P(Tempi, PlayerTempo, ::testing::Values(0.0f, -60.0f, 60.0f),
                         [](const auto& info) {
                             return info.param == 0 ? std::string("Normal")
                                                    : info.param < 0 ? std::string("Slowest") : std::string("Fastest");
                         });

TEST(PlayerTempoChange, WhilePlayingAndOutOfRange) {
    PlayerFixture f;
    EXPECT_EQ(f.player->SetTempo(0, 25.0f), err::Ok);  // kept also with nothing loaded
    EXPECT_EQ(f.player->SetTempo(0, 61.0f), err::ParameterOutOfRange);
    EXPECT_EQ(f.player->SetTempo(0, -61.0f), err::ParameterOutOfRange);
    EXPECT_EQ(f.player->SetTempo(1, 0.0f), err::InvalidPlayer);
    ASSERT_EQ(f.player->OpenFile(0, f.clickWav("long.wav", 12.0, {})), err::Ok);
    ASSERT_EQ(f.player->Play(0), err::Ok);
    ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 200; }));
    // Back and forth between stretched and untouched sound keeps the position moving on.
    for (float change : {0.0f, 60.0f, -60.0f, 0.0f}) {
        ASSERT_EQ(f.player->SetTempo(0, change), err::Ok);
        const int32_t at = f.player->Position(0);
        ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > at + 100; })) << change;
    }
}

// Destruction joins the output and decode threads while a seek or a tempo change is
// still being worked on; a hang fails by the test's time-out, a crash by itself.
TEST(PlayerLifetime, DestroyedWhileASeekOrTempoChangeIsInFlight) {
    for (bool paused : {false, true}) {
        SCOPED_TRACE(paused);
        PlayerFixture f;
        ASSERT_EQ(f.player->OpenFile(0, f.clickWav("long.wav", 5.0, {})), err::Ok);
        ASSERT_EQ(f.player->SetTempo(0, 60.0f), err::Ok);
        ASSERT_EQ(f.player->Play(0), err::Ok);
        ASSERT_TRUE(waitFor([&] { return f.player->Position(0) > 100; }));
        if (paused) {
            ASSERT_EQ(f.player->Pause(0), err::Ok);
        }
        ASSERT_EQ(f.player->Seek(0, 3000), err::Ok);
        ASSERT_EQ(f.player->SetTempo(0, -40.0f), err::Ok);
        f.player.reset();
    }
}

}  // namespace
