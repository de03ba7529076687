#include "components/decode/SpotReader.h"

#include "components/decode/FfmpegHandles.h"
#include "components/decode/InputFile.h"
#include "components/decode/PrerolledSeek.h"
#include "components/errors/modSoundErrDesc.h"

#include <QFileInfo>
#include <algorithm>

namespace clipwren::decode {

namespace {

// Packets read after a seek before a spot counts as undecodable; a spot needs a few.
constexpr int kMaxPacketsPerSpot = 64;

// Widens [low, high] by every sample of a decoded frame, whatever its sample format.
template <typename Sample>
void widen(const AVFrame* f, bool planar, float scale, float offset, float* low, float* high) {
    const int channels = f->ch_layout.nb_channels;
    const int planes = planar ? channels : 1;
    const int64_t perPlane = int64_t(f->nb_samples) * (planar ? 1 : channels);
    for (int p = 0; p < planes; ++p) {
        const auto* s = reinterpret_cast<const Sample*>(f->extended_data[p]);
        for (int64_t i = 0; i < perPlane; ++i) {
            const float v = (float(s[i]) - offset) * scale;
            *low = std::min(*low, v);
            *high = std::max(*high, v);
        }
    }
}

bool widenByFrame(const AVFrame* f, float* low, float* high) {
    const auto format = AVSampleFormat(f->format);
    const bool planar = av_sample_fmt_is_planar(format);
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: widen<uint8_t>(f, planar, 1.0f / 128, 128, low, high); return true;
    case AV_SAMPLE_FMT_S16: widen<int16_t>(f, planar, 1.0f / 32768, 0, low, high); return true;
    case AV_SAMPLE_FMT_S32: widen<int32_t>(f, planar, 1.0f / 2147483648.0f, 0, low, high); return true;
    case AV_SAMPLE_FMT_S64: widen<int64_t>(f, planar, 1.0f / 9223372036854775808.0f, 0, low, high); return true;
    case AV_SAMPLE_FMT_FLT: widen<float>(f, planar, 1, 0, low, high); return true;
    case AV_SAMPLE_FMT_DBL: widen<double>(f, planar, 1, 0, low, high); return true;
    default: return false;
    }
}

}  // namespace

struct SpotReader::Impl {
    InputFile input;
    PacketPtr packet;
    FramePtr frame;
    int sampleRate = 0;
    int64_t durationFrames = 0;
    // Codecs that need a preroll carry state from frame to frame (MP3's bit reservoir,
    // overlapping transforms): the first frame after a seek is not yet what a
    // continuous decode gives.
    bool dropFirstFrame = true;
};

SpotReader::SpotReader(PrivateKey) : impl_(std::make_unique<Impl>()) {}
SpotReader::~SpotReader() = default;

Result<std::unique_ptr<SpotReader>> SpotReader::open(const QString& path) {
    const auto fail = [](int32_t code) { return Failure{code}; };
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable() || info.size() == 0) return fail(err::InvalidSoundFile);
    auto reader = std::make_unique<SpotReader>(PrivateKey{});
    Impl& d = *reader->impl_;
    if (const int32_t rc = d.input.open(path); rc != err::Ok) return fail(rc);
    d.packet.reset(av_packet_alloc());
    d.frame.reset(av_frame_alloc());
    if (!d.packet || !d.frame) return fail(err::NotEnoughMemory);

    const AVStream* stream = d.input.stream();
    d.sampleRate = d.input.codec()->sample_rate;
    d.dropFirstFrame = decoderPrerollFrames(stream->codecpar) > 0;
    if (const std::optional<int64_t> indexed = d.input.indexedLength())
        d.durationFrames = *indexed;
    else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        d.durationFrames = av_rescale_q(stream->duration, stream->time_base, AVRational{1, d.sampleRate});
    else if (d.input.format()->duration > 0)
        d.durationFrames = av_rescale_q(d.input.format()->duration, AV_TIME_BASE_Q, AVRational{1, d.sampleRate});
    return reader;
}

int SpotReader::sampleRate() const { return impl_->sampleRate; }
int64_t SpotReader::durationFrames() const { return impl_->durationFrames; }

bool SpotReader::peaksNear(int64_t frame, int64_t frames, float* low, float* high) {
    Impl& d = *impl_;
    AVCodecContext* codec = d.input.codec();
    const AVStream* stream = d.input.stream();
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    const int64_t target = start + av_rescale_q(frame, AVRational{1, d.sampleRate}, stream->time_base);
    if (!d.input.seek(target)) return false;
    // A flush, not a fresh decoder as for exact decoding: state kept across it does not
    // matter to a quick look.
    avcodec_flush_buffers(codec);

    float lo = 0.0f;
    float hi = 0.0f;
    int64_t collected = 0;
    bool first = true;
    for (int packets = 0; collected < frames && packets < kMaxPacketsPerSpot;) {
        if (d.input.readPacket(d.packet.get()) < 0) break;
        if (d.packet->stream_index == stream->index) {
            ++packets;
            if (d.input.sendPacket(d.packet.get()) >= 0) {
                while (avcodec_receive_frame(codec, d.frame.get()) >= 0) {
                    const bool counts = !(first && d.dropFirstFrame);
                    first = false;
                    if (counts && widenByFrame(d.frame.get(), &lo, &hi)) collected += d.frame->nb_samples;
                    av_frame_unref(d.frame.get());
                }
            }
        }
        av_packet_unref(d.packet.get());
    }
    if (collected == 0) return false;
    *low = lo;
    *high = hi;
    return true;
}

}  // namespace clipwren::decode
