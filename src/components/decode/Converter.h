#pragma once
// Converts decoded frames to interleaved 32-bit float at the output's rate and channel
// count, and keeps the converted frames until they are handed out. A stream that
// changes its rate, channels or sample format part-way is converted on: the resampler
// gives out what it holds and starts again for the new format.
#include "components/decode/FfmpegHandles.h"

#include <QString>
#include <cstdint>
#include <vector>

namespace clipwren::decode {

class Converter {
public:
    Converter() = default;
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    void setUp(int sourceRate, int outputRate, int outputChannels);
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

    // Makes the resampler ready for frames like `frame`: set up from the first frame
    // (some decoders settle their sample format only once they decode), and again when
    // the format changes. Returns the frames that gave out, or a negative err:: code
    // when the resampler cannot convert this format.
    int prepareFor(const AVFrame* frame);
    // Why the resampler could not be set up, for the user.
    const QString& failure() const { return failure_; }
    // Converts `count` frames from `offset` of a frame prepared for. Returns the frames
    // produced, or a negative value on failure.
    int convert(const AVFrame* frame, int64_t offset, int64_t count);
    // Converts silence in the format last prepared for, as long as `sourceFrames`.
    int convertSilence(int64_t sourceFrames);
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

    // The format of frames the resampler is set up for.
    struct InputFormat {
        int rate = 0;
        int sampleFormat = AV_SAMPLE_FMT_NONE;
        AVChannelLayout layout{};  // as the frames give it
    };

    bool matchesInput(const AVFrame* frame) const;
    int32_t configure(const AVFrame* frame);
    int feed(const uint8_t* const* in, int inFrames);

    int sourceRate_ = 0;
    int outRate_ = 0;
    int outChannels_ = 0;
    State state_ = State::Unconfigured;
    SwrContextPtr swr_;
    InputFormat input_;
    std::vector<uint8_t> silence_;  // zeroed input samples for convertSilence
    std::vector<float> pending_;    // interleaved, starting at pendingOffset_ frames
    size_t pendingOffset_ = 0;
    QString failure_;
};

}  // namespace clipwren::decode
