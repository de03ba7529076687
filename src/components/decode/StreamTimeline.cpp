#include "components/decode/StreamTimeline.h"

#include <algorithm>
#include <cmath>

namespace clipwren::decode {

namespace {

// Timestamps of sample-exact containers (Ogg granules, MP4, Matroska at 1/rate) agree
// with counting to the sample; 64 frames absorb the rounding of time bases that are
// not a multiple of the rate, and are far below any lost packet (the shortest frames
// that are lost whole, AAC's, hold 1024).
constexpr int64_t kTimestampJumpTolerance = 64;

// A packet's duration beyond this is not a duration but a wrapped or unset granule
// position (an Ogg stream shorter than its first block gives 2^32 - 28). The longest
// real packets, FLAC's, hold 65535 frames: 1.5 s at 44100 Hz.
constexpr int64_t kLongestPlausiblePacketSeconds = 10;

bool frameTimestamp(const AVFrame* frame, int64_t* pts) {
    const int64_t value = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (value == AV_NOPTS_VALUE) return false;
    *pts = value;
    return true;
}

}  // namespace

void StreamTimeline::setUp(const AVStream* stream, AVCodecID codec, int sampleRate, SeekMethod method) {
    timeBase_ = stream->time_base;
    codec_ = codec;
    sampleRate_ = sampleRate;
    seekMethod_ = method;
    coarseTimestamps_ = int64_t(timeBase_.num) * sampleRate > timeBase_.den;
}

void StreamTimeline::anchor(const AVFrame* firstTimedFrame, int64_t framesBefore) {
    int64_t pts = 0;
    frameTimestamp(firstTimedFrame, &pts);
    originPts_ = pts - av_rescale_q(framesBefore, AVRational{1, sampleRate_}, timeBase_);
    startsUntimed_ = framesBefore > 0;
    fixedFrameLength_ = firstTimedFrame->nb_samples;
}

void StreamTimeline::anchorUntimed(const AVFrame* firstFrame) {
    originPts_ = 0;
    startsUntimed_ = true;
    seekMethod_ = SeekMethod::ByCounting;  // no timestamps to seek by
    fixedFrameLength_ = firstFrame->nb_samples;
}

bool StreamTimeline::hasTimestamp(const AVFrame* frame) {
    int64_t pts = 0;
    return frameTimestamp(frame, &pts);
}

int64_t StreamTimeline::place(const AVFrame* frame) const {
    int64_t pts = 0;
    if (!frameTimestamp(frame, &pts)) return AV_NOPTS_VALUE;
    // Vorbis timestamps come from granule positions, which mark where a packet's audio
    // ends; at a change of block size the decoded frame is longer or shorter than the
    // packet's duration, so its start is found from that end.
    if (codec_ == AV_CODEC_ID_VORBIS && plausibleDuration(frame->pkt_duration))
        pts += frame->pkt_duration - av_rescale_q(frame->nb_samples, AVRational{1, sampleRate_}, timeBase_);
    const int64_t samples = av_rescale_q_rnd(pts - originPts_, timeBase_, AVRational{1, sampleRate_},
                                             AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    if (!coarseTimestamps_) return samples;
    if (fixedFrameLength_ <= 0) return AV_NOPTS_VALUE;
    return int64_t(std::llround(double(samples) / fixedFrameLength_)) * fixedFrameLength_;
}

int64_t StreamTimeline::timestampOf(int64_t sourceFrame) const {
    if (sourceFrame <= 0) return firstPacketTimestamp_;
    const int64_t target = originPts_ + av_rescale_q(sourceFrame, AVRational{1, sampleRate_}, timeBase_);
    return std::max(target, firstPacketTimestamp_);
}

bool StreamTimeline::plausibleDuration(int64_t duration) const {
    return duration > 0 &&
           duration <= av_rescale_q(kLongestPlausiblePacketSeconds, AVRational{1, 1}, timeBase_);
}

int64_t StreamTimeline::framesUntil(int64_t timestamp) const {
    return av_rescale_q(timestamp - originPts_, timeBase_, AVRational{1, sampleRate_});
}

// A short frame is expected only last; one followed by more frames means the frame
// length varies and coarse timestamps cannot place frames exactly.
void StreamTimeline::noteFrameLength(int samples) {
    if (frameLengths_ == FrameLengths::ShortFrameSeen) fixedFrameLength_ = 0;
    frameLengths_ = fixedFrameLength_ > 0 && samples != fixedFrameLength_ ? FrameLengths::ShortFrameSeen
                                                                          : FrameLengths::Regular;
}

int64_t StreamTimeline::jumpTolerance() const {
    // Coarse timestamps are good to half a frame, once snapped to the frame grid.
    const int64_t tolerance = coarseTimestamps_ ? fixedFrameLength_ / 2 : kTimestampJumpTolerance;
    return std::max(tolerance, kTimestampJumpTolerance);
}

}  // namespace clipwren::decode
