#pragma once
// Lands the frame reader before a target source frame, early enough that the decoder
// has settled by the target, and never past it.
#include <cstdint>

extern "C" {
#include <libavcodec/codec_par.h>
}

namespace clipwren::decode {

class FrameReader;
class StreamTimeline;

// How far before a seek target decoding starts so that codecs with a bit reservoir or
// overlapping transforms (MP3, AAC, Vorbis, Opus) give by the target what a continuous
// decode gives there; 0 for lossless codecs.
int64_t decoderPrerollFrames(const AVCodecParameters* codec);

class PrerolledSeek {
public:
    PrerolledSeek(FrameReader& reader, const StreamTimeline& timeline, int sourceRate, int64_t prerollFrames);

    // Position of the stream's last packet, once known. Ogg derives a page's timestamps
    // from its end granule, which on the last page is cut by the end trimming: a seek
    // must not land there.
    void setLastPacketPosition(int64_t position) { lastPacketPos_ = position; }

    // Restarts the reader before `sourceFrame` (its first frame may be decoded and
    // current already). Where the timestamps cannot be trusted there, restarts from the
    // beginning instead, for the caller to count from there.
    // Returns 0 or err::InvalidSoundFile when the file can no longer be repositioned.
    int32_t landBefore(int64_t sourceFrame);

private:
    FrameReader& reader_;
    const StreamTimeline& timeline_;
    int sourceRate_;
    int64_t prerollFrames_;
    int64_t lastPacketPos_ = -1;
};

}  // namespace clipwren::decode
