#pragma once
// Decodes a sound file's audio stream frame by frame and places each frame on the
// source timeline: the first frame after a restart by its timestamp, the following
// ones by counting on from it, checked against their timestamps. Lost data (a decode
// error, a read error, a jump in the timestamps) ends the sound there.
#include "components/decode/FfmpegHandles.h"

#include <cstdint>

namespace clipwren::decode {

class InputFile;
class StreamTimeline;

class FrameReader {
public:
    FrameReader(InputFile& input, StreamTimeline& timeline);
    // Returns 0 or err::NotEnoughMemory.
    int32_t allocate();

    // Moves the demuxer so that decoding restarts at or before source frame
    // `sourceFrame` (from the beginning for 0) with a fresh decoder.
    bool restart(int64_t sourceFrame);
    // Makes a decoded frame current, decoding the next one when none is. False at the
    // end of the stream or at damage.
    bool next();
    bool hasFrame() const { return holding_; }
    const AVFrame* frame() const { return frame_.get(); }
    // Source frame index of the current frame's first sample.
    int64_t frameStart() const { return frameStart_; }
    // Done with the current frame.
    void release();

    // True while the next frame is still to be placed by its timestamp.
    bool placing() const { return placement_ == Placement::NextByTimestamp; }
    // Where the next frame follows on when counting.
    int64_t nextFrameStart() const { return sourceNext_; }
    bool damaged() const { return input_ == Input::Damaged; }
    // Ends decoding here as damage would: what follows cannot be used.
    void stopAsDamaged() { input_ = Input::Damaged; }
    // File position of the first packet read after the last restart, and of the last
    // packet decoded; -1 when there was none.
    int64_t landingPosition() const { return landingPos_; }
    int64_t lastPacketPosition() const { return lastSentPos_; }

private:
    enum class Placement {
        NextByTimestamp,  // after a restart: the next frame goes where its timestamp says
        Following,        // frames follow on from the last one
    };
    enum class Input {
        Reading,   // packets are read and decoded
        Draining,  // the demuxer has ended; the decoder hands out what it still holds
        Ended,     // everything has been decoded
        Damaged,   // decoding stopped at lost or broken data
    };

    // Gives the decoded frame its place; false when it shows lost data.
    bool placeDecodedFrame();
    // Reads the next packet of the stream into the decoder; false when decoding must stop.
    bool feedDecoder();
    bool stopAtDamage(int rc);  // logs rc; always false

    InputFile& file_;
    StreamTimeline& timeline_;
    PacketPtr packet_;
    FramePtr frame_;
    bool holding_ = false;  // frame_ holds a decoded frame not yet released

    Placement placement_ = Placement::NextByTimestamp;
    Input input_ = Input::Reading;
    int64_t frameStart_ = 0;
    int64_t sourceNext_ = 0;
    // Where the next frame goes when it has no timestamp: the start after a restart from
    // the beginning, unknown elsewhere (the caller then counts from the beginning).
    int64_t fallbackPlacement_ = AV_NOPTS_VALUE;
    int prerollErrors_ = 0;
    int64_t landingPos_ = -1;
    int64_t lastSentPos_ = -1;
};

}  // namespace clipwren::decode
