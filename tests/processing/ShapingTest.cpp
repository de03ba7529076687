// Fades and loudness normalization of a marked piece, read from a real decoder. Fades are
// checked sample by sample against their curve; loudness and true peak by ffmpeg's ebur128.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cmath>

#include "support/TestSupport.h"
#include "components/decode/AudioDecoder.h"
#include "components/processing/PieceShaping.h"

using namespace clipwren;
using namespace testsupport;

namespace {

constexpr int kRate = 44100;
constexpr int kChannels = 2;

struct Piece {
    std::vector<float> source;  // the decoded piece before shaping
    std::vector<float> shaped;
    processing::ShapingPlan plan;
};

// Shapes frames [begin, end) of a WAV made from `samples`, as the export and the player do.
Piece shape(const QString& wav, const std::vector<float>& samples, int64_t begin, int64_t end,
            const processing::Shaping& shaping) {
    writeWav(wav, kRate, kChannels, samples);
    auto opened = decode::AudioDecoder::open(wav, kRate, kChannels);
    EXPECT_TRUE(opened) << opened.failure().code;
    auto& decoder = *opened;
    Piece piece;
    EXPECT_EQ(processing::planShaping(*decoder, begin, end, shaping, {}, &piece.plan), 0);
    piece.source.resize(size_t((end - begin) * kChannels));
    EXPECT_EQ(decoder->seek(begin), 0);
    EXPECT_EQ(decoder->read(piece.source.data(), end - begin), end - begin);
    piece.shaped = piece.source;
    piece.plan.envelope.apply(piece.shaped.data(), kChannels, 0, end - begin);
    return piece;
}

}  // namespace

// Fades: the first and last frames follow the curve (the square of the share of the fade
// gone by), rising from silence and falling to it; the frames between are untouched.
TEST(Shaping, FadesFollowTheirCurveAndLeaveTheMiddleExact) {
    struct Row {
        const char* name;
        int64_t begin, end;
        processing::Fades fades;
        int64_t fadeIn, fadeOut;  // frames each fade should take
    } rows[] = {
        {"half a second in, one out", 10000, 10000 + 3 * kRate, {0.5, 1.0}, kRate / 2, kRate},
        {"only out", 0, 2 * kRate, {0, 0.25}, 0, kRate / 4},
        {"longer than half the piece: halved", 5000, 5000 + 2 * kRate, {10, 3}, kRate, kRate},
        {"odd piece, both too long", 0, 1001, {5, 5}, 500, 500},
        {"none", 0, kRate, {0, 0}, 0, 0},
    };
    QTemporaryDir dir;
    std::vector<float> sound = tone(kRate, kChannels, 4 * kRate, 440.0, 0.8);
    for (int64_t i = 0; i < int64_t(sound.size()); ++i) sound[size_t(i)] += 0.1f * float((i * 7919) % 13) / 13.0f;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Piece piece = shape(dir.filePath("s.wav"), sound, row.begin, row.end, {row.fades, std::nullopt});
        const int64_t frames = row.end - row.begin;
        const auto expectFactor = [&](int64_t frame, double factor) {
            for (int c = 0; c < kChannels; ++c) {
                const size_t i = size_t(frame * kChannels + c);
                EXPECT_NEAR(piece.shaped[i], piece.source[i] * factor, 1e-6) << "frame " << frame;
            }
        };
        for (int64_t k = 0; k < std::min<int64_t>(row.fadeIn, 64); ++k) {
            const double share = double(k) / double(row.fadeIn);
            expectFactor(k, share * share);                            // from the first frame on
            expectFactor(row.fadeIn - 1 - k, std::pow(double(row.fadeIn - 1 - k) / double(row.fadeIn), 2));
        }
        for (int64_t k = 0; k < std::min<int64_t>(row.fadeOut, 64); ++k) {
            const double share = double(k) / double(row.fadeOut);
            expectFactor(frames - 1 - k, share * share);               // down to 0 at the last frame
        }
        // Between the fades, sample for sample the source.
        for (int64_t f = row.fadeIn; f < frames - row.fadeOut; ++f)
            for (int c = 0; c < kChannels; ++c)
                ASSERT_EQ(piece.shaped[size_t(f * kChannels + c)], piece.source[size_t(f * kChannels + c)]) << f;
        EXPECT_EQ(piece.plan.envelope.fadeInFrames(), row.fadeIn);
        EXPECT_EQ(piece.plan.envelope.fadeOutFrames(), row.fadeOut);
    }
}

// Normalization: the shaped piece measures the target within 0.5 LU by ffmpeg's meter, and
// its true peak stays at or under -1 dBTP, the gain being lowered where it would not.
// Silence has no loudness to bring anywhere: it gets no gain and stays silent.
TEST(Shaping, NormalizedPieceReachesTheTargetWithTheTruePeakUnderTheCeiling) {
    const auto withClicks = [](std::vector<float> samples) {
        for (int64_t f = 1000; f < 6 * kRate; f += kRate / 2) addClick(samples, kChannels, f, 0.95f);
        return samples;
    };
    struct Row {
        const char* name;
        std::vector<float> sound;
        processing::Shaping shaping;
        bool peakLimited;
    } rows[] = {
        {"quiet tone raised", tone(kRate, kChannels, 6 * kRate, 1000.0, 0.02), {{}, -14.0}, false},
        {"loud tone lowered", tone(kRate, kChannels, 6 * kRate, 1000.0, 0.99), {{}, -14.0}, false},
        {"another target", tone(kRate, kChannels, 6 * kRate, 300.0, 0.3), {{}, -23.0}, false},
        {"faded, measured as faded", tone(kRate, kChannels, 6 * kRate, 500.0, 0.05), {{1.0, 2.0}, -14.0}, false},
        {"quiet with loud clicks: held at the ceiling", withClicks(tone(kRate, kChannels, 6 * kRate, 800.0, 0.01)),
         {{}, -14.0}, true},
        {"silence", silence(kChannels, 6 * kRate), {{0.5, 0.5}, -14.0}, false},
    };
    QTemporaryDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Piece piece = shape(dir.filePath("s.wav"), row.sound, kRate / 2, 5 * kRate + kRate / 2, row.shaping);
        ASSERT_TRUE(piece.plan.measured);
        EXPECT_EQ(piece.plan.gain.peakLimited, row.peakLimited);
        if (std::isinf(piece.plan.measured->integratedLufs)) {
            EXPECT_EQ(piece.plan.gain.gainDb, 0.0);
            for (float s : piece.shaped) ASSERT_EQ(s, 0.0f);
            continue;
        }
        const QString out = dir.filePath("shaped.wav");
        writeWav(out, kRate, kChannels, piece.shaped);
        const LoudnessReading heard = ffmpegLoudness(out);
        EXPECT_LE(heard.truePeakDbtp, -1.0);
        if (row.peakLimited)
            EXPECT_LT(heard.integratedLufs, *row.shaping.normalizeToLufs - 0.5);
        else
            EXPECT_NEAR(heard.integratedLufs, *row.shaping.normalizeToLufs, 0.5);
    }
}
