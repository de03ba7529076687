#pragma once
// The decode thread of one loaded file: decoder -> (SoundTouch when the tempo is
// changed) -> block ring. It fills the ring for the current run and idles when the
// run is done, so memory stays bounded whatever the file's length.
#include "components/decode/AudioDecoder.h"
#include "components/player/BlockRing.h"

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

class DecodeWorker {
public:
    // tempoChange: percent, read before every block; 0 passes the decoded sound untouched.
    // handoff: where the output left off, for runs that continue.
    DecodeWorker(std::unique_ptr<decode::AudioDecoder> decoder, BlockRing& ring,
                 const std::atomic<float>& tempoChange, const Handoff& handoff);
    ~DecodeWorker();
    DecodeWorker(const DecodeWorker&) = delete;
    DecodeWorker& operator=(const DecodeWorker&) = delete;

    // Starts a new run from startFrame to endFrame (output frames), its blocks tagged serial.
    // Blocks of earlier runs still in the ring are left to the consumer to drop.
    void startRun(uint32_t serial, int64_t startFrame, int64_t endFrame);
    // Goes on with the current run under a new serial from the frame after the last one
    // the output took (runStart when it took none), once the output has said which.
    void continueRun(uint32_t serial, int64_t runStart, int64_t endFrame);

private:
    struct Run {
        uint32_t serial = 0;
        int64_t startFrame = 0;
        int64_t endFrame = 0;
        bool continued = false;  // starts where the output left off, once it has said where
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

    std::unique_ptr<decode::AudioDecoder> decoder_;
    std::unique_ptr<soundtouch::SoundTouch> stretcher_;
    BlockRing& ring_;
    const std::atomic<float>& tempoChange_;
    const Handoff& handoff_;

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

    std::jthread thread_;  // last: joined before the rest goes
};

}  // namespace clipwren::player
