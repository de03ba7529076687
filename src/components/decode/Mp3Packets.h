#pragma once
// An MP3 file's packets read through its frame index rather than FFmpeg's demuxer: the
// length comes from the index, and a seek goes straight to its frame instead of building
// the demuxer's generic index packet by packet on the way (which for an hour of VBR MP3
// read the whole file at opening). The packets carry what the demuxer gives them:
// timestamps in the stream's time base from 0 at the first audio frame, and on that
// frame the samples FFmpeg drops for the encoder delay (the LAME tag's).
#include "components/soundeditor/lossless/Mp3FrameIndex.h"

#include <QString>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/packet.h>
}

namespace clipwren::decode {

class Mp3Packets {
public:
    // nullptr where the index cannot read the file through or does not know its length:
    // FFmpeg's demuxer reads it then.
    static std::unique_ptr<Mp3Packets> open(const QString& path, AVRational timeBase, int streamIndex);
    struct PrivateKey {};  // only open() constructs
    Mp3Packets(PrivateKey, std::unique_ptr<soundeditor::mp3::Mp3FrameIndex> index, int64_t length,
               AVRational timeBase, int streamIndex);

    // Samples per channel of the gapless decode, as FFmpeg decodes the file.
    int64_t lengthFrames() const { return length_; }
    // The index walks ahead on a thread of its own, for the seeks to come.
    void expectSeeks() { index_->walkAhead(); }
    // The next packet read is that of the frame holding `timestamp`.
    void seek(int64_t timestamp);
    // As av_read_frame: 0, AVERROR_EOF after the last frame, or another negative error.
    int read(AVPacket* packet);

private:
    std::unique_ptr<soundeditor::mp3::Mp3FrameIndex> index_;
    int64_t length_;
    AVRational timeBase_;
    AVRational sampleTime_;
    int streamIndex_;
    int64_t samplesPerFrame_;
    int64_t next_ = 0;  // the frame the next packet holds
};

}  // namespace clipwren::decode
