#pragma once
// The one decode-and-seek module of both audio components: reads any audio file
// FFmpeg can demux and decode, converted to interleaved 32-bit float at an output
// rate and channel count of the caller's choice, with an exact length and
// sample-accurate seeking. Positions are output frames (one sample per channel).
// Not thread-safe: one thread uses one decoder at a time; separate decoders share
// no state and may run in different threads at once. Memory stays bounded: audio
// is decoded on demand, never the whole file.
//
// Error codes (err::, modSoundErrDesc.h):
//   InvalidSoundFile (-6)     open: the path is missing, not a file, empty, not a
//                             container FFmpeg knows, has no audio stream with a
//                             decoder, yields no sample at all, or its channels cannot
//                             be converted (open() also says why)
//   ParameterOutOfRange (-3)  open: a negative rate or channel count;
//                             read: a null buffer or a negative count
//   NotEnoughMemory (-2)      an FFmpeg allocation failed
//   InvalidSoundFile (-6)     seek: the file could no longer be repositioned
//
// What is read is what the ffmpeg command line decodes from the same file: junk before
// the first frame is skipped; joined MP3s and chained Ogg streams are read through to
// the end; a stream that changes its rate, channels or sample format part-way is
// converted on the fly; any channel count is mixed down (channels without known
// positions are spread evenly over the outputs).
//
// Length: the number of frames a gapless-aware decode of the whole file yields (what
// `ffmpeg -i F -f s16le -` gives): encoder delay and padding (LAME header), MP4 edit
// lists and Ogg pre-skip are honoured as libavcodec honours them, an MP4 sound also
// ends where its edit list ends (libavcodec decodes the last packet whole), and an Ogg
// Vorbis sound that fits on one page ends where libvorbis ends it (libavcodec ends it
// 128 samples early). At another output rate it is ceil(sourceFrames * outputRate /
// sourceRate), the count the ffmpeg command line yields with `-ar`. It is found by decoding only the last seconds of the file,
// placed by the stream's timestamps; where the container's duration is only an
// estimate (MP3 without a Xing header, ADTS AAC) the packets are first counted without
// decoding them, and where the timestamps cannot place the end (chained Ogg streams,
// streams too short for a seek) the whole file is decoded. Unset or wrapped-around
// timestamps and durations are never taken for a length.
//
// Damaged files: damaged packets are skipped and decoding goes on, as the ffmpeg
// command line does. Where the timestamps show that audio was lost there (a packet
// that did not decode, an Ogg page dropped for a bad checksum), read() gives silence
// of the lost length in its place, so later audio keeps its position and the sound
// keeps its length; concealedFrames() and damagedPackets() tell how much. Here the
// count differs from the ffmpeg command line, which drops such
// audio and comes out shorter. A truncated file reports, and reads, what it still
// holds. Should the decoder still end before lengthFrames() (a read error), read()
// ends there too, with no made-up audio after it.
#include "components/decode/FrameCount.h"
#include "components/errors/Failure.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace clipwren::decode {

struct SourceInfo {
    int sampleRate = 0;
    int channels = 0;
    int64_t lengthFrames = 0;  // exact, at the source's rate, as a gapless-aware decode yields
    QString codecName;
    QString containerName;
};

class AudioDecoder {
public:
    // outputRate 0 keeps the source's rate; outputChannels 0 keeps the source's count,
    // except that more than two channels are mixed down to stereo. Mono to 2 gives two
    // equal channels. Fails with an err:: code (-6 for a file that is not decodable
    // audio) and the file with why, for the user ("/music/a.mp3: it holds no audio").
    // Probing reads headers and, only where the container gives no reliable length,
    // scans packets without decoding them.
    static Result<std::unique_ptr<AudioDecoder>> open(const QString& path, int outputRate, int outputChannels);
    struct PrivateKey {};  // only open() constructs
    explicit AudioDecoder(PrivateKey);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    const SourceInfo& source() const;
    int outputRate() const;
    int outputChannels() const;
    // Exact length in output frames.
    int64_t lengthFrames() const;
    // Length in milliseconds, rounded to the nearest.
    int32_t lengthMs() const;

    // Moves so that the next read starts exactly at output frame `frame` (clamped to
    // 0..lengthFrames). Reading on gives what a continuous read from 0 gives there:
    // the same samples for PCM and lossless codecs, the same within the decoder's
    // rounding and noise for lossy ones. Returns 0 or a negative error code.
    int32_t seek(int64_t frame);
    // Says that seeks will come, at any time and anywhere (a player, a view of the
    // samples): what finding a place needs is prepared in the background now (an MP3's
    // frame index walks ahead), rather than by the first far seek or not at all (a cut).
    void expectSeeks();
    // Decodes up to maxFrames frames into dst (interleaved). Returns the frames written,
    // 0 at the end of the sound, or a negative error code. Read from 0 to the end it
    // yields exactly lengthFrames() frames, unless the decoder ends early: then reading
    // ends there, before lengthFrames().
    int64_t read(float* dst, int64_t maxFrames);
    // The output frame the next read starts at.
    int64_t position() const;
    // Damage met by the reads since the last seek (or the start): audio lost there,
    // in output frames, which read() gave as silence so that later audio keeps its
    // place; and the packets that did not decode and were skipped.
    int64_t concealedFrames() const;
    int64_t damagedPackets() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace clipwren::decode
