#pragma once
// Converts decoded frames to interleaved 32-bit float at the output's rate and channel
// count, and keeps the converted frames until they are handed out.
#include "components/decode/FfmpegHandles.h"

#include <cstdint>
#include <vector>

namespace clipwren::decode {

class Converter {
public:
    void setUp(int sourceRate, int sourceChannels, int outputRate, int outputChannels);
    int outputRate() const { return outRate_; }
    int outputChannels() const { return outChannels_; }

    // What a continuous conversion yields for a number of source frames: the resampler
    // ends on the output sample that covers the last source sample.
    int64_t outputFramesFor(int64_t sourceFrames) const;

    // Where to restart so that output frame `outputFrame` comes out exactly as in a
    // continuous conversion: a source frame whose output position is a whole number,
    // early enough that the resampler's filter history is real data by the target.
    struct RestartPoint {
        int64_t sourceFrame = 0;
        int64_t outputFrame = 0;  // the output position of sourceFrame, <= the target
    };
    RestartPoint restartPointFor(int64_t outputFrame) const;
    // Forgets the resampler and every converted frame; the next frame sets it up anew.
    void restart();

    // Positions and the resampler assume the stream's parameters: false for a frame
    // that changes them.
    bool accepts(const AVFrame* frame) const;
    // Converts `count` frames from `offset` of a decoded frame, setting the resampler up
    // from it first when needed (some decoders settle their sample format only once
    // they decode). Returns the frames produced, or a negative value on failure.
    int convert(const AVFrame* frame, int64_t offset, int64_t count);
    // Converts what the resampler still holds, once. True when that gave frames.
    bool flush();

    // Converted frames not yet handed out.
    int64_t available() const;
    const float* data() const { return pending_.data() + pendingOffset_ * size_t(outChannels_); }
    void consume(int64_t frames) { pendingOffset_ += size_t(frames); }

private:
    enum class State {
        Unconfigured,  // no resampler yet: set up from the next frame
        Converting,
        Flushed,  // the resampler's tail has been taken: nothing more comes until a restart
    };

    int32_t configure(const AVFrame* frame);
    int feed(const uint8_t* const* in, int inFrames);

    int sourceRate_ = 0;
    int sourceChannels_ = 0;
    int outRate_ = 0;
    int outChannels_ = 0;
    State state_ = State::Unconfigured;
    SwrContextPtr swr_;
    int inputFormat_ = AV_SAMPLE_FMT_NONE;
    std::vector<float> pending_;  // interleaved, starting at pendingOffset_ frames
    size_t pendingOffset_ = 0;
};

}  // namespace clipwren::decode
