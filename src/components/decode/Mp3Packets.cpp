#include "components/decode/Mp3Packets.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/mathematics.h>
}

namespace clipwren::decode {

namespace {
// AV_PKT_DATA_SKIP_SAMPLES: samples to drop from the start, from the end, two reasons.
constexpr int kSkipSamplesSize = 10;
}  // namespace

namespace mp3 = soundeditor::mp3;

std::unique_ptr<Mp3Packets> Mp3Packets::open(const QString& path, AVRational timeBase, int streamIndex) {
    Result<std::unique_ptr<mp3::Mp3FrameIndex>> index = mp3::Mp3FrameIndex::open(path);
    const std::optional<int64_t> length = index ? (*index)->decodedLength() : std::nullopt;
    if (!length || *length <= 0) return nullptr;
    return std::make_unique<Mp3Packets>(PrivateKey{}, std::move(*index), *length, timeBase, streamIndex);
}

Mp3Packets::Mp3Packets(PrivateKey, std::unique_ptr<mp3::Mp3FrameIndex> index, int64_t length, AVRational timeBase,
                       int streamIndex)
    : index_(std::move(index)),
      length_(length),
      timeBase_(timeBase),
      sampleTime_{1, index_->head().stream.sampleRate},
      streamIndex_(streamIndex),
      samplesPerFrame_(index_->head().stream.samplesPerFrame()) {}

void Mp3Packets::seek(int64_t timestamp) {
    const int64_t sample = av_rescale_q_rnd(timestamp, timeBase_, sampleTime_, AV_ROUND_DOWN);
    next_ = std::max<int64_t>(0, sample) / samplesPerFrame_;
}

int Mp3Packets::read(AVPacket* packet) {
    const uint8_t* bytes = nullptr;
    mp3::FrameHeader header;
    int64_t offset = 0;
    // Frames lost to damage leave a gap in the timestamps, as the demuxer's would.
    if (!index_->frame(&next_, &bytes, &header, &offset)) return AVERROR_EOF;
    if (av_new_packet(packet, header.size) < 0) return AVERROR(ENOMEM);
    std::memcpy(packet->data, bytes, size_t(header.size));
    packet->pts = packet->dts = av_rescale_q(next_ * samplesPerFrame_, sampleTime_, timeBase_);
    packet->duration = av_rescale_q(samplesPerFrame_, sampleTime_, timeBase_);
    packet->pos = offset;
    packet->stream_index = streamIndex_;
    packet->flags |= AV_PKT_FLAG_KEY;
    if (next_ == 0 && index_->head().decoderSkip() > 0) {
        uint8_t* skip = av_packet_new_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, kSkipSamplesSize);
        if (!skip) return AVERROR(ENOMEM);
        AV_WL32(skip, uint32_t(index_->head().decoderSkip()));
    }
    ++next_;
    return 0;
}

}  // namespace clipwren::decode
