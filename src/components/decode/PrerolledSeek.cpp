#include "components/decode/PrerolledSeek.h"

#include "components/decode/FrameReader.h"
#include "components/decode/StreamTimeline.h"
#include "components/errors/modSoundErrDesc.h"

#include <algorithm>

extern "C" {
#include <libavcodec/codec_desc.h>
}

namespace clipwren::decode {

namespace {

// MPEG audio at low bit rates: a frame's main data can start several frames back (the
// bit reservoir), and the synthesis filter bank carries state from frame to frame.
// 10 frames were the fewest that gave a continuous decode's samples after a seek in
// 32 kbit/s CBR and VBR MP3s (8 were off by whole frames); 29 keeps a margin of three.
constexpr int64_t kMpegAudioPrerollFrames = 29;
constexpr int64_t kMpegAudioFrameLength = 1152;  // when the stream does not say
// Other lossy codecs: a block overlaps the one before it, and Vorbis's longest block
// is 8192 frames; Opus asks for 80 ms of preroll (RFC 7845), which a fifth of a second
// covers at any rate. The seek tests matched with as little as 256 frames for AAC,
// Vorbis, Opus and WMA, whose blocks are short: the rest is for long blocks.
constexpr int64_t kLongestTransformBlock = 8192;
constexpr int kPrerollFractionOfSecond = 5;

// A landing is retried further back this many times before decoding from the start.
constexpr int kLandingAttempts = 4;

}  // namespace

int64_t decoderPrerollFrames(const AVCodecParameters* codec) {
    const AVCodecDescriptor* desc = avcodec_descriptor_get(codec->codec_id);
    if (desc && (desc->props & AV_CODEC_PROP_LOSSLESS) && !(desc->props & AV_CODEC_PROP_LOSSY)) return 0;
    switch (codec->codec_id) {
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
        return kMpegAudioPrerollFrames * (codec->frame_size > 0 ? codec->frame_size : kMpegAudioFrameLength);
    default:
        return std::max<int64_t>(kLongestTransformBlock, codec->sample_rate / kPrerollFractionOfSecond);
    }
}

PrerolledSeek::PrerolledSeek(FrameReader& reader, const StreamTimeline& timeline, int sourceRate,
                             int64_t prerollFrames)
    : reader_(reader), timeline_(timeline), sourceRate_(sourceRate), prerollFrames_(prerollFrames) {}

int32_t PrerolledSeek::landBefore(int64_t sourceFrame) {
    int64_t seekTo = timeline_.seekMethod() == SeekMethod::ByCounting ? 0 : sourceFrame - prerollFrames_;
    for (int attempt = 0; attempt < kLandingAttempts && seekTo > 0; ++attempt) {
        if (!reader_.restart(seekTo)) break;
        if (reader_.next()) {
            // The demuxer must land at or before the target, with at least half the
            // preroll still to decode: otherwise step back.
            const bool landedOnLastPacket = lastPacketPos_ >= 0 && reader_.landingPosition() >= lastPacketPos_;
            if (reader_.frameStart() <= seekTo + prerollFrames_ / 2 && !landedOnLastPacket) return err::Ok;
        }
        // Each step back doubles, at least a second, so a few attempts reach far.
        seekTo -= std::max<int64_t>(prerollFrames_, sourceRate_) << attempt;
    }
    // Timestamps missing or unusable here: decode and count from the start.
    return reader_.restart(0) ? err::Ok : err::InvalidSoundFile;
}

}  // namespace clipwren::decode
