#include "components/decode/Converter.h"

#include "components/decode/FfmpegError.h"
#include "components/errors/modSoundErrDesc.h"

#include <algorithm>
#include <numeric>

extern "C" {
#include <libavutil/opt.h>
}

namespace clipwren::decode {

namespace {

// Source frames of history the resampler needs before its output equals a continuous
// run. Its default filter has 32 taps, 16 on each side: 16 frames were the fewest that
// gave a continuous run's samples after a seek at 22050 -> 44100 and 48000 -> 44100 Hz
// (8 were off by up to 3 steps of 16 bits); 256 keeps a wide margin. Lowering the rate
// stretches the filter, so the restart multiplies this by the ratio.
constexpr int64_t kResamplerPrerollSourceFrames = 256;

// swr_get_out_samples() gives an upper bound for what is buffered and the new input;
// the margin covers its rounding at ratios that are not whole numbers.
constexpr int kOutputCapacityMargin = 16;

}  // namespace

void Converter::setUp(int sourceRate, int sourceChannels, int outputRate, int outputChannels) {
    sourceRate_ = sourceRate;
    sourceChannels_ = sourceChannels;
    outRate_ = outputRate;
    outChannels_ = outputChannels;
}

int64_t Converter::outputFramesFor(int64_t sourceFrames) const {
    if (outRate_ == sourceRate_) return sourceFrames;
    return av_rescale_rnd(sourceFrames, outRate_, sourceRate_, AV_ROUND_UP);
}

Converter::RestartPoint Converter::restartPointFor(int64_t outputFrame) const {
    if (outRate_ == sourceRate_) return {outputFrame, outputFrame};
    const int64_t g = std::gcd(int64_t(outRate_), int64_t(sourceRate_));
    const int64_t stepOut = outRate_ / g;
    const int64_t stepSrc = sourceRate_ / g;
    const int64_t prerollOut = av_rescale_rnd(kResamplerPrerollSourceFrames, outRate_, sourceRate_, AV_ROUND_UP) *
                               std::max<int64_t>(1, sourceRate_ / outRate_);
    const int64_t steps = std::max<int64_t>(0, (outputFrame - prerollOut) / stepOut);
    return {steps * stepSrc, steps * stepOut};
}

void Converter::restart() {
    swr_.reset();
    state_ = State::Unconfigured;
    pending_.clear();
    pendingOffset_ = 0;
}

bool Converter::accepts(const AVFrame* frame) const {
    return frame->sample_rate == sourceRate_ && frame->ch_layout.nb_channels == sourceChannels_ &&
           (state_ == State::Unconfigured || frame->format == inputFormat_);
}

int32_t Converter::configure(const AVFrame* frame) {
    AVChannelLayout inLayout{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inLayout, frame->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&inLayout, &frame->ch_layout) < 0)
        return err::NotEnoughMemory;
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, outChannels_);

    SwrContext* raw = nullptr;
    const int rc = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, outRate_, &inLayout,
                                       AVSampleFormat(frame->format), sourceRate_, 0, nullptr);
    inputFormat_ = frame->format;
    swr_.reset(raw);
    if (logIfFailed(rc, "setting up the resampler") < 0 || !swr_) {
        av_channel_layout_uninit(&inLayout);
        return err::NotEnoughMemory;
    }
    // A mixdown keeps full-scale input within full scale, as the ffmpeg command line's
    // 16-bit output does, instead of summing channels past it.
    av_opt_set_double(swr_.get(), "rematrix_maxval", 1.0, 0);
    if (inLayout.nb_channels == 1 && outChannels_ == 2) {
        // Both output channels at the mono's own level (the default matrix drops it by 3 dB).
        const double matrix[2] = {1.0, 1.0};
        swr_set_matrix(swr_.get(), matrix, 1);
    }
    av_channel_layout_uninit(&inLayout);
    if (logIfFailed(swr_init(swr_.get()), "starting the resampler") < 0) return err::InvalidSoundFile;
    state_ = State::Converting;
    return err::Ok;
}

int Converter::convert(const AVFrame* frame, int64_t offset, int64_t count) {
    if (state_ == State::Unconfigured && configure(frame) != err::Ok) return -1;
    const int channels = frame->ch_layout.nb_channels;
    const int bytes = av_get_bytes_per_sample(AVSampleFormat(frame->format));
    const bool planar = av_sample_fmt_is_planar(AVSampleFormat(frame->format));
    std::vector<const uint8_t*> planes(planar ? size_t(channels) : 1);
    for (size_t c = 0; c < planes.size(); ++c)
        planes[c] = frame->extended_data[c] + offset * bytes * (planar ? 1 : channels);
    return feed(planes.data(), int(count));
}

bool Converter::flush() {
    if (state_ != State::Converting) return false;
    state_ = State::Flushed;
    return feed(nullptr, 0) > 0;
}

int64_t Converter::available() const { return int64_t(pending_.size()) / outChannels_ - int64_t(pendingOffset_); }

int Converter::feed(const uint8_t* const* in, int inFrames) {
    if (available() <= 0) {
        pending_.clear();
        pendingOffset_ = 0;
    }
    const int capacity = swr_get_out_samples(swr_.get(), inFrames) + kOutputCapacityMargin;
    const size_t oldSize = pending_.size();
    pending_.resize(oldSize + size_t(capacity) * size_t(outChannels_));
    uint8_t* out = reinterpret_cast<uint8_t*>(pending_.data() + oldSize);
    const int produced = logIfFailed(
        swr_convert(swr_.get(), &out, capacity, const_cast<const uint8_t**>(in), inFrames), "resampling");
    pending_.resize(oldSize + size_t(std::max(produced, 0)) * size_t(outChannels_));
    return produced;
}

}  // namespace clipwren::decode
