#pragma once
// Decodes a sound file's audio stream frame by frame and places each frame on the
// source timeline: the first frame after a restart by its timestamp, the following
// ones by counting on from it, checked against their timestamps.
//
// Damage is skipped as the ffmpeg command line skips it: a packet that does not decode
// is dropped and decoding goes on. Where the timestamps show that audio was lost (a
// dropped packet, an Ogg page that failed its checksum), the next frame keeps its
// place and the gap before it is reported, for the caller to fill with silence. Where
// the timestamps jump back or too far ahead to be a loss (a chained Ogg stream starting
// its own count, a broken timestamp), counting goes on and the timeline is marked as
// one that positions cannot be sought by.
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
    // end of the stream, or when decoding cannot go on (stopped()).
    bool next();
    bool hasFrame() const { return holding_; }
    const AVFrame* frame() const { return frame_.get(); }
    // Source frame index of the current frame's first sample, and the source frames it
    // covers (its sample count, rescaled when the frame's rate is not the stream's).
    int64_t frameStart() const { return frameStart_; }
    int64_t frameSpan() const { return frameSpan_; }
    // Source frames of lost audio just before the current frame; reported once.
    int64_t takeGapBefore();
    // Done with the current frame.
    void release();

    // True while the next frame is still to be placed by its timestamp.
    bool placing() const { return placement_ == Placement::NextByTimestamp; }
    // Where the next frame follows on when counting.
    int64_t nextFrameStart() const { return sourceNext_; }
    // Decoding cannot go on from here: a frame could not be placed, or the caller gave up.
    bool stopped() const { return input_ == Input::Stopped; }
    void stop() { input_ = Input::Stopped; }
    // Packets that did not decode since the last restart.
    int64_t decodeErrors() const { return decodeErrors_; }
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
        Stopped,   // decoding cannot go on here
    };

    bool onUnplaceableLandingPage() const;
    // Gives the decoded frame its place; false when it cannot be placed.
    bool placeDecodedFrame();
    int64_t spanOf(const AVFrame* frame);
    // Reads the next packet of the stream into the decoder.
    void feedDecoder();
    void skipDamage();

    InputFile& file_;
    StreamTimeline& timeline_;
    PacketPtr packet_;
    FramePtr frame_;
    bool holding_ = false;  // frame_ holds a decoded frame not yet released

    Placement placement_ = Placement::NextByTimestamp;
    Input input_ = Input::Reading;
    int64_t frameStart_ = 0;
    int64_t frameSpan_ = 0;
    int64_t gapBefore_ = 0;
    int64_t sourceNext_ = 0;
    // Frames at another rate than the stream's: what their spans left over, in units of
    // 1/(their rate) of a source frame, so that spans do not drift.
    int64_t spanRemainder_ = 0;
    // Where the next frame goes when it has no timestamp: the start after a restart from
    // the beginning, unknown elsewhere (the caller then counts from the beginning).
    int64_t fallbackPlacement_ = AV_NOPTS_VALUE;
    int64_t decodeErrors_ = 0;
    int64_t landingPos_ = -1;
    int64_t lastSentPos_ = -1;
};

}  // namespace clipwren::decode
