#pragma once
// The one decode-and-seek module of both audio components: reads any audio file
// FFmpeg can demux and decode, converted to interleaved 32-bit float at an output
// rate and channel count of the caller's choice, with an exact length and
// sample-accurate seeking. Positions are output frames (one sample per channel).
// Not thread-safe: one thread uses one decoder at a time.
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
    // equal channels. Returns nullptr and sets *error (an err:: code, -6 for a file that
    // is not decodable audio) on failure. Probing reads headers and, only where the
    // container gives no reliable length, scans packets without decoding them.
    static std::unique_ptr<AudioDecoder> open(const QString& path, int outputRate, int outputChannels,
                                              int32_t* error);
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
    // 0..lengthFrames). Returns 0 or a negative error code.
    int32_t seek(int64_t frame);
    // Decodes up to maxFrames frames into dst (interleaved). Returns the frames written,
    // 0 at the end of the sound, or a negative error code. A file damaged part-way
    // ends the sound at the damage.
    int64_t read(float* dst, int64_t maxFrames);
    // The output frame the next read starts at.
    int64_t position() const;

private:
    AudioDecoder();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Converts between milliseconds and frames at a rate, rounding to the nearest.
int64_t msToFrames(int64_t ms, int rate);
int64_t framesToMs(int64_t frames, int rate);

}  // namespace clipwren::decode
