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

bool frameTimestamp(const AVFrame* frame, int64_t* pts) {
    const int64_t value = frame->pts != AV_NOPTS_VALUE ? frame->pts : frame->best_effort_timestamp;
    if (value == AV_NOPTS_VALUE) return false;
    *pts = value;
    return true;
}

}  // namespace

void StreamTimeline::setUp(const AVStream* stream, AVCodecID codec, int sampleRate, SeekMethod method) {
    stream_ = stream;
    codec_ = codec;
    sampleRate_ = sampleRate;
    seekMethod_ = method;
    coarseTimestamps_ = int64_t(stream->time_base.num) * sampleRate > stream->time_base.den;
}

void StreamTimeline::anchor(const AVFrame* firstFrame) {
    int64_t pts = 0;
    const bool timed = frameTimestamp(firstFrame, &pts);
    originPts_ = timed ? pts : 0;
    if (!timed) seekMethod_ = SeekMethod::ByCounting;  // no timestamps to seek by
    fixedFrameLength_ = firstFrame->nb_samples;
}

int64_t StreamTimeline::place(const AVFrame* frame) const {
    int64_t pts = 0;
    if (!frameTimestamp(frame, &pts)) return AV_NOPTS_VALUE;
    // Vorbis timestamps come from granule positions, which mark where a packet's audio
    // ends; at a change of block size the decoded frame is longer or shorter than the
    // packet's duration, so its start is found from that end.
    if (codec_ == AV_CODEC_ID_VORBIS && frame->pkt_duration > 0)
        pts += frame->pkt_duration - av_rescale_q(frame->nb_samples, AVRational{1, sampleRate_}, stream_->time_base);
    const int64_t samples = av_rescale_q_rnd(pts - originPts_, stream_->time_base, AVRational{1, sampleRate_},
                                             AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    if (!coarseTimestamps_) return samples;
    if (fixedFrameLength_ <= 0) return AV_NOPTS_VALUE;
    return int64_t(std::llround(double(samples) / fixedFrameLength_)) * fixedFrameLength_;
}

int64_t StreamTimeline::timestampOf(int64_t sourceFrame) const {
    if (sourceFrame <= 0) return firstPacketTimestamp_;
    const int64_t target = originPts_ + av_rescale_q(sourceFrame, AVRational{1, sampleRate_}, stream_->time_base);
    return std::max(target, firstPacketTimestamp_);
}

int64_t StreamTimeline::framesUntil(int64_t timestamp) const {
    return av_rescale_q(timestamp - originPts_, stream_->time_base, AVRational{1, sampleRate_});
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
