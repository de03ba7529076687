#pragma once
// One sound file opened for decoding: its container, the audio stream chosen in it
// and a decoder for that stream. Knows nothing of positions; the frame reader and
// the probes drive it.
#include "components/decode/FfmpegHandles.h"

#include <QString>
#include <cstdint>

namespace clipwren::decode {

class InputFile {
public:
    // Opens the container, chooses its best audio stream and opens a decoder for it.
    // Returns 0, err::InvalidSoundFile or err::NotEnoughMemory.
    int32_t open(const QString& path);

    // Replaces the decoder by a fresh one rather than flushing it: some decoders keep
    // state across a flush (the AAC decoder's noise generator), and a restart from the
    // beginning should give exactly what a first decode gives.
    int32_t openDecoder();
    // Moves the demuxer to the packet at or before `timestamp` (stream time base).
    // A demuxer that refuses even a seek to its first packet is reopened instead.
    bool seek(int64_t timestamp, int64_t firstPacketTimestamp);

    AVFormatContext* format() const { return format_.get(); }
    AVCodecContext* codec() const { return codec_.get(); }
    AVStream* stream() const { return stream_; }
    int streamIndex() const { return streamIndex_; }
    const QString& codecName() const { return codecName_; }
    const QString& containerName() const { return containerName_; }

private:
    int32_t openContainer();
    void selectStream();

    QString path_;
    FormatContextPtr format_;
    CodecContextPtr codec_;
    int streamIndex_ = -1;
    AVStream* stream_ = nullptr;
    QString codecName_;
    QString containerName_;
};

}  // namespace clipwren::decode
