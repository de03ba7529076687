#pragma once
// The decode thread of one loaded file: decoder -> (SoundTouch when the tempo is
// changed) -> block ring. It fills the ring for the current run and idles when the
// run is done, so memory stays bounded whatever the file's length.
#include "components/decode/AudioDecoder.h"
#include "components/player/BlockRing.h"
#include "components/processing/PieceShaping.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace soundtouch {
class SoundTouch;
}

namespace clipwren::player {

// The marked piece a run plays: the fades and gain of a saved piece apply, counted from
// its begin, and it may start again there when it reaches its end.
struct MarkedPiece {
    int64_t begin = 0;
    int64_t end = 0;
    processing::Shaping shaping;
    bool operator==(const MarkedPiece&) const = default;
};

class DecodeWorker {
public:
    // tempoChange: percent, read before every block; 0 passes the decoded sound untouched.
    // handoff: where the output left off, for runs that continue.
    // loopPiece: a marked piece starts again at its begin on reaching its end, read as it plays.
    DecodeWorker(std::unique_ptr<decode::AudioDecoder> decoder, BlockRing& ring,
                 const std::atomic<float>& tempoChange, const Handoff& handoff, const std::atomic<bool>& loopPiece);
    ~DecodeWorker();
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    // Starts a new run from startFrame to endFrame (output frames), its blocks tagged serial.
    // Blocks of earlier runs still in the ring are left to the consumer to drop. A run in
    // a marked piece ends at the piece's end.
    void startRun(uint32_t serial, int64_t startFrame, int64_t endFrame,
                  const std::optional<MarkedPiece>& piece = std::nullopt);
    // Goes on with the current run under a new serial from the frame after the last one
    // the output took (runStart when it took none), once the output has said which.
    void continueRun(uint32_t serial, int64_t runStart, int64_t endFrame);

private:
    struct Run {
        uint32_t serial = 0;
        int64_t startFrame = 0;
        int64_t endFrame = 0;
        bool continued = false;  // starts where the output left off, once it has said where
        std::optional<MarkedPiece> piece;
    };

    void run(std::stop_token stop);
    void beginRun(const Run& next);
    // A continued run starts once the output has told where: false while it has not.
    bool takeHandoff();
    // Fills one block of the current run; marks the run done at its end.
    void fillBlock(AudioBlock& block);
    // Goes on at a new tempo from the source frame reached so far.
    void restartAt(float change);
    void fillPlain(AudioBlock& block);
    void fillStretched(AudioBlock& block, float change);
    // A marked piece that starts again at its end.
    bool looping() const;
    // Readies the piece's envelope, measuring its loudness where asked (once per piece).
    void shapePiece();
    // The piece's fades and gain on `frames` frames read from source frame `first`.
    void applyPiece(float* samples, int64_t first, int64_t frames) const;
    bool superseded();

    std::unique_ptr<decode::AudioDecoder> decoder_;
    std::unique_ptr<soundtouch::SoundTouch> stretcher_;
    BlockRing& ring_;
    const std::atomic<float>& tempoChange_;
    const Handoff& handoff_;
    const std::atomic<bool>& loopPiece_;

    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::optional<Run> pending_;

    // Decode thread only.
    Run current_;
    bool runDone_ = true;
    bool stretching_ = false;
    bool stretcherInputDone_ = false;
    float appliedChange_ = 0;
    double sourceFrame_ = 0;  // source frame of the next frame to hand out
    std::unique_ptr<float[]> input_;
    std::optional<MarkedPiece> shapedPiece_;  // the piece the envelope belongs to
    processing::PieceEnvelope envelope_;

    std::jthread thread_;  // last: joined before the rest goes
};

}  // namespace clipwren::player
