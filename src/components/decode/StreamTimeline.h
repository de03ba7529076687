#pragma once
// Where decoded audio lies: turns a stream's timestamps into source frame indices
// (samples per channel at the source's rate, 0 at the first sample a decode from the
// start yields) and back, for placing frames and aiming demuxer seeks.
#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
}

namespace clipwren::decode {

// How a position is reached.
enum class SeekMethod {
    ByTimestamp,  // the demuxer seeks near the target and the timestamps place the frames
    ByCounting,   // the timestamps only estimate positions: decode from the start and count
};

class StreamTimeline {
public:
    void setUp(const AVStream* stream, AVCodecID codec, int sampleRate, SeekMethod method);

    // Set from the first decoded frame that has a timestamp, `framesBefore` source frames
    // after the first sample: that timestamp anchors every later position.
    void anchor(const AVFrame* firstTimedFrame, int64_t framesBefore);
    // Set when no frame near the start has a timestamp: positions are counted.
    void anchorUntimed(const AVFrame* firstFrame);
    // The first packet's timestamp: where the demuxer goes for a restart from the beginning.
    void setFirstPacketTimestamp(int64_t timestamp) { firstPacketTimestamp_ = timestamp; }
    int64_t firstPacketTimestamp() const { return firstPacketTimestamp_; }
    // The first frames have no timestamp (an MP3 after junk): a seek to the first
    // timestamp would pass over them.
    bool startsUntimed() const { return startsUntimed_; }

    static bool hasTimestamp(const AVFrame* frame);
    SeekMethod seekMethod() const { return seekMethod_; }
    int sampleRate() const { return sampleRate_; }
    // The stream's ticks are longer than a sample: a timestamp cannot say one sample.
    bool coarseTimestamps() const { return coarseTimestamps_; }
    // The timestamps were seen to jump back or far ahead (chained Ogg streams each
    // count from their own start): positions are found by counting from here on.
    void markDiscontinuous() { seekMethod_ = SeekMethod::ByCounting; discontinuous_ = true; }
    bool discontinuous() const { return discontinuous_; }
    // Where a decoded frame's first sample lies in source frames; AV_NOPTS_VALUE when
    // its timestamp is missing or cannot place it.
    int64_t place(const AVFrame* frame) const;
    // The timestamp a demuxer seek aims at for a source frame (the first packet's for 0).
    int64_t timestampOf(int64_t sourceFrame) const;
    // True for a packet or frame duration (stream time base) that can be one.
    bool plausibleDuration(int64_t duration) const;
    // Source frames from the first sample to a timestamp.
    int64_t framesUntil(int64_t timestamp) const;
    int64_t originTimestamp() const { return originPts_; }

    // Frame lengths, which coarse timestamps need: call for each frame decoded in order;
    // call restartFrameLengths() when decoding restarts elsewhere.
    void noteFrameLength(int samples);
    void restartFrameLengths() { frameLengths_ = FrameLengths::Regular; }
    // How far a frame's timestamp may differ from where counting puts it before the
    // difference counts as lost data.
    int64_t jumpTolerance() const;

private:
    // Frames of a codec have one length, except possibly the last one.
    enum class FrameLengths { Regular, ShortFrameSeen };

    AVRational timeBase_{1, 1};  // the stream's
    AVCodecID codec_ = AV_CODEC_ID_NONE;
    int sampleRate_ = 0;
    SeekMethod seekMethod_ = SeekMethod::ByTimestamp;
    bool discontinuous_ = false;
    bool startsUntimed_ = false;
    int64_t originPts_ = 0;
    int64_t firstPacketTimestamp_ = 0;
    // The stream's ticks are longer than a sample (ASF's milliseconds): positions are
    // snapped to the codec's fixed frame length, which is then required.
    bool coarseTimestamps_ = false;
    int fixedFrameLength_ = 0;  // 0 once frames of several lengths were seen
    FrameLengths frameLengths_ = FrameLengths::Regular;
};

}  // namespace clipwren::decode
