#pragma once
// One sound file opened for decoding: its container, the audio stream chosen in it
// and a decoder for that stream. Knows nothing of positions; the frame reader and
// the probes drive it.
#include "components/decode/FfmpegHandles.h"
#include "components/decode/Mp3Packets.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace clipwren::decode {

// What the first bytes of a file FFmpeg could not open, or found no sound in, say of it:
// that it is empty, ends inside or right after its ID3 tag, or holds free-format MPEG
// audio, which FFmpeg cannot decode; nullopt where they say nothing of it.
std::optional<QString> whatTheHeadSays(const QString& path);

class InputFile {
public:
    // Opens the container, chooses its best audio stream and opens a decoder for it.
    // Returns 0, err::InvalidSoundFile or err::NotEnoughMemory.
    int32_t open(const QString& path);
    // Why the last open failed, for the user: "it holds no audio".
    const QString& failure() const { return failure_; }

    // Replaces the decoder by a fresh one rather than flushing it: some decoders keep
    // state across a flush (the AAC decoder's noise generator), and a restart from the
    // beginning should give exactly what a first decode gives. It is set up from the
    // stream's parameters as they were at opening: the demuxer's parsers rewrite them
    // when the stream changes part-way (a joined MP3 at another rate).
    int32_t openDecoder();
    // The stream's next packet, as av_read_frame gives it: 0 or a negative error.
    int readPacket(AVPacket* packet);
    // Hands a packet of the stream to the decoder (nullptr: the end of the stream).
    // Returns avcodec_send_packet's result.
    int sendPacket(AVPacket* packet);
    // An Ogg Vorbis stream on one page (a sound of up to a second or so) ends at its
    // granule position, in source frames from its first decoded sample; nullopt for
    // other streams. FFmpeg 5.1 counts such a stream's first packet, which decodes to
    // nothing, as 128 samples and trims the end by them too early (a stream shorter
    // than the first packets it holds is not trimmed at all), so its packets are
    // decoded whole and the sound is ended here, where libvorbis ends it.
    std::optional<int64_t> granuleEnd() const { return granuleEnd_; }
    // Prepares in the background what seeks will need (AudioDecoder::expectSeeks).
    void expectSeeks();
    // Moves the demuxer to the packet at or before `timestamp` (stream time base).
    bool seek(int64_t timestamp);
    // Back to the beginning, where a decode must give what the first one gave: by a
    // seek to the first packet's timestamp where that lands there, else by opening the
    // container again. A seek would not: past frames without timestamps
    // (`startsUntimed`), in Ogg (which derives the timestamps and end trimming of a
    // stream shorter than a page anew), or in a demuxer that refuses it.
    bool rewind(int64_t firstPacketTimestamp, bool startsUntimed);

    // The exact length in source frames where the file's own frame index gives it (an
    // MP3 read through Mp3Packets); nullopt where it must be probed.
    std::optional<int64_t> indexedLength() const;

    AVFormatContext* format() const { return format_.get(); }
    AVCodecContext* codec() const { return codec_.get(); }
    AVStream* stream() const { return stream_; }
    // The stream's codec parameters as they were at opening.
    const AVCodecParameters* parameters() const { return parameters_.get(); }
    int streamIndex() const { return streamIndex_; }
    // The FFmpeg URL the file is read through.
    const QByteArray& url() const { return url_; }
    const QString& codecName() const { return codecName_; }
    const QString& containerName() const { return containerName_; }

private:
    int32_t openContainer();
    int32_t fail(int32_t code, const QString& reason);
    void selectStream();

    QString path_;
    QByteArray url_;
    FormatContextPtr format_;
    CodecParametersPtr parameters_;
    CodecContextPtr codec_;
    std::unique_ptr<Mp3Packets> mp3Packets_;
    int streamIndex_ = -1;
    AVStream* stream_ = nullptr;
    QString codecName_;
    QString containerName_;
    QString failure_;
    std::optional<int64_t> granuleEnd_;
};

}  // namespace clipwren::decode
