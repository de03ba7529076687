#include "components/decode/Converter.h"

#include "components/decode/FfmpegError.h"
#include "components/decode/FrameCount.h"
#include "components/errors/modSoundErrDesc.h"

#include <algorithm>
#include <numeric>
#include <span>

#include <QString>

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

Converter::~Converter() { av_channel_layout_uninit(&input_.layout); }

void Converter::setUp(int sourceRate, int outputRate, int outputChannels) {
    sourceRate_ = sourceRate;
    outRate_ = outputRate;
    outChannels_ = outputChannels;
}

int64_t Converter::outputFramesFor(int64_t sourceFrames) const {
    return framesAtRate(sourceFrames, sourceRate_, outRate_);
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
    av_channel_layout_uninit(&input_.layout);
    pending_.clear();
    pendingOffset_ = 0;
}

bool Converter::matchesInput(const AVFrame* frame) const {
    return frame->sample_rate == input_.rate && frame->format == input_.sampleFormat &&
           av_channel_layout_compare(&frame->ch_layout, &input_.layout) == 0;
}

int Converter::prepareFor(const AVFrame* frame) {
    if (state_ != State::Unconfigured && matchesInput(frame)) return 0;
    // A new format part-way: what the resampler holds of the old one comes out first.
    const int tail = state_ == State::Converting ? feed(nullptr, 0) : 0;
    const int32_t rc = configure(frame);
    return rc != err::Ok ? rc : std::max(tail, 0);
}

namespace {

// The layout the resampler is given for a frame's channels: a layout without channel
// positions gets the usual one for its count where there is one.
void inputLayoutOf(const AVFrame* frame, AVChannelLayout* layout) {
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || av_channel_layout_copy(layout, &frame->ch_layout) < 0)
        av_channel_layout_default(layout, frame->ch_layout.nb_channels);
}

// A mix-down for channels without known positions (a 32-channel WAV): input channel i
// goes to output channel i modulo the output count, each output the mean of its inputs,
// so full scale stays full scale.
std::vector<double> spreadMatrix(int inChannels, int outChannels) {
    std::vector<double> matrix(size_t(inChannels) * size_t(outChannels), 0.0);
    for (int out = 0; out < outChannels; ++out) {
        int sources = 0;
        for (int in = out % inChannels; in < inChannels; in += outChannels) ++sources;
        for (int in = out % inChannels; in < inChannels; in += outChannels)
            matrix[size_t(out) * size_t(inChannels) + size_t(in)] = 1.0 / sources;
    }
    return matrix;
}

}  // namespace

int32_t Converter::configure(const AVFrame* frame) {
    swr_.reset();
    state_ = State::Unconfigured;
    av_channel_layout_uninit(&input_.layout);
    if (av_channel_layout_copy(&input_.layout, &frame->ch_layout) < 0) return err::NotEnoughMemory;
    input_.rate = frame->sample_rate;
    input_.sampleFormat = frame->format;
    AVChannelLayout inLayout{};
    inputLayoutOf(frame, &inLayout);
    const int inChannels = inLayout.nb_channels;
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, outChannels_);

    // Positions known: the resampler's own matrix. Unknown: spread them over the outputs.
    const bool positioned = inLayout.order != AV_CHANNEL_ORDER_UNSPEC || inChannels == outChannels_;
    const bool attempts[] = {positioned, false};
    for (const bool ownMatrix : std::span(attempts, positioned ? 2 : 1)) {
        SwrContext* raw = nullptr;
        const int rc = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, outRate_, &inLayout,
                                           AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        swr_.reset(raw);
        if (logIfFailed(rc, "setting up the resampler") < 0 || !swr_) {
            av_channel_layout_uninit(&inLayout);
            return err::NotEnoughMemory;
        }
        if (ownMatrix) {
            // A mixdown keeps full-scale input within full scale, as the ffmpeg command
            // line's 16-bit output does, instead of summing channels past it.
            av_opt_set_double(swr_.get(), "rematrix_maxval", 1.0, 0);
            if (inChannels == 1 && outChannels_ == 2) {
                // Both output channels at the mono's own level (the default matrix drops it by 3 dB).
                const double matrix[2] = {1.0, 1.0};
                swr_set_matrix(swr_.get(), matrix, 1);
            }
        } else {
            const std::vector<double> matrix = spreadMatrix(inChannels, outChannels_);
            swr_set_matrix(swr_.get(), matrix.data(), inChannels);
        }
        if (swr_init(swr_.get()) >= 0) {
            av_channel_layout_uninit(&inLayout);
            state_ = State::Converting;
            return err::Ok;
        }
    }
    av_channel_layout_uninit(&inLayout);
    failure_ = QStringLiteral("the resampler cannot convert %1 channels of %2 at %3 Hz to %4 channels at %5 Hz")
                   .arg(inChannels)
                   .arg(QString::fromLatin1(av_get_sample_fmt_name(AVSampleFormat(frame->format))))
                   .arg(frame->sample_rate)
                   .arg(outChannels_)
                   .arg(outRate_);
    swr_.reset();
    return err::InvalidSoundFile;
}

int Converter::convert(const AVFrame* frame, int64_t offset, int64_t count) {
    const int channels = frame->ch_layout.nb_channels;
    const int bytes = av_get_bytes_per_sample(AVSampleFormat(frame->format));
    const bool planar = av_sample_fmt_is_planar(AVSampleFormat(frame->format));
    std::vector<const uint8_t*> planes(planar ? size_t(channels) : 1);
    for (size_t c = 0; c < planes.size(); ++c)
        planes[c] = frame->extended_data[c] + offset * bytes * (planar ? 1 : channels);
    return feed(planes.data(), int(count));
}

int Converter::convertSilence(int64_t sourceFrames) {
    if (state_ != State::Converting) return -1;
    const int64_t count = av_rescale(sourceFrames, input_.rate, sourceRate_);
    const AVSampleFormat format = AVSampleFormat(input_.sampleFormat);
    const int channels = input_.layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(format);
    const int lineSize = int(count) * av_get_bytes_per_sample(format) * (planar ? 1 : channels);
    silence_.resize(size_t(lineSize) * (planar ? size_t(channels) : 1));
    std::vector<uint8_t*> planes(planar ? size_t(channels) : 1);
    for (size_t c = 0; c < planes.size(); ++c) planes[c] = silence_.data() + c * size_t(lineSize);
    av_samples_set_silence(planes.data(), 0, int(count), channels, format);
    return feed(const_cast<const uint8_t* const*>(planes.data()), int(count));
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
