#pragma once
// What a marked piece goes through on its way out, the same for the saved file and for
// "Play marked": a fade in at its start, a fade out at its end, one gain over all of it.
// Positions are frames counted from the piece's first frame, at the rate of the samples.
#include <cstdint>

namespace clipwren::processing {

// The user's wish, in seconds and decibels, before it meets a piece of a given length.
struct Fades {
    double inSeconds = 0;
    double outSeconds = 0;
    bool operator==(const Fades&) const = default;
};

// The longest fade offered.
constexpr double kMaxFadeSeconds = 10.0;

class PieceEnvelope {
public:
    // A piece left as it is.
    PieceEnvelope() = default;
    // Each fade is cut to half the piece, so the two never overlap.
    PieceEnvelope(int64_t pieceFrames, int rate, const Fades& fades, double gainDb = 0);

    // Multiplies `frames` interleaved frames of `channels` samples, the first of which is
    // the piece's frame `first`. Frames outside the piece get the gain alone.
    void apply(float* samples, int channels, int64_t first, int64_t frames) const;
    // The factor of the piece's frame `frame`.
    double factorAt(int64_t frame) const;
    // Changes nothing: no fade and no gain.
    bool unchanging() const { return fadeInFrames_ == 0 && fadeOutFrames_ == 0 && gain_ == 1.0f; }
    int64_t fadeInFrames() const { return fadeInFrames_; }
    int64_t fadeOutFrames() const { return fadeOutFrames_; }

private:
    int64_t pieceFrames_ = 0;
    int64_t fadeInFrames_ = 0;
    int64_t fadeOutFrames_ = 0;
    float gain_ = 1.0f;
};

// The shape of both fades, rising from 0 at x = 0 to 1 at x = 1: the square of the
// amplitude's share. Heard loudness goes roughly as the amplitude to the power 0.6, so a
// square makes it rise and fall about evenly over the fade; a straight amplitude ramp
// stays loud until its last moment and then drops, and a ramp even in decibels never
// reaches silence.
inline double fadeCurve(double x) { return x * x; }

}  // namespace clipwren::processing
