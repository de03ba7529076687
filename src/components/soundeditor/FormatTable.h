#pragma once
// The editor's encodings: what each FormatCode and option group means in terms of
// container, codec and encoder settings. All of that lives in one table here.
#include "components/soundeditor/SoundEditor.h"

#include <QString>
#include <cstdint>

namespace clipwren::soundeditor {

struct Encoding {
    const char* muxer = nullptr;  // FFmpeg output format name
    const char* codec = nullptr;  // FFmpeg encoder name
    int64_t bitRate = 0;          // bits per second; 0 when the encoder runs on a quality scale
    bool averageBitRate = false;  // MP3 only: ABR instead of constant bit rate
    bool useQuality = false;      // the encoder's own quality scale, value in `quality`
    double quality = 0;
    // MP4 family: keep the movie's time scale at the sample rate, so the edit list that
    // trims encoder delay and padding is exact to the sample rather than to the millisecond.
    bool sampleExactEditList = false;
    // Only a copy of the source's own encoded frames will do (format code 7).
    bool keepSourceEncoding = false;
    // A copy may replace the encoding where the source's settings are these.
    bool copyWhereAlike = true;
    // WAV: written as RF64 when it grows past what 32-bit sizes hold.
    bool largeFileAsRf64 = false;
    // WMA: the decoder gives no audio for the first encoder frame and cannot finish the
    // last frame fed without one after it, and ASF has no place to say so. Measured with
    // the ffmpeg command line: a click lands exactly one encoder frame early (512 samples
    // at 8 and 16 kHz, 1024 at 22.05 kHz, 2048 at 32 to 48 kHz), a piece shorter than a
    // frame decodes to nothing, and the last frame fed decodes distorted. So one frame
    // of the sound before the piece goes in first and one frame of silence after it.
    bool decoderDropsFirstFrame = false;
    // ADTS: players find the format by probing, and FFmpeg 5.1's probe is sure of ADTS only
    // from 3 frames on. Measured with ffprobe on ADTS files cut after N frames (60 noise
    // fixtures, 22.05 to 48 kHz, mono and stereo): 2 frames were recognised in 25 of 60
    // (the rest tie with MP3 at score 1: "Invalid data found"), 3 frames in all 60. So
    // shorter outputs get silence after the piece up to this many frames; 0 leaves them.
    int minimumEncodedFrames = 0;
};

// AAC quality 1..100 maps linearly onto 32..128 kbit/s per channel, so the default
// quality 100 gives 256 kbit/s for stereo.
int64_t aacBitRateForQuality(int quality, int channels);

// The MP4 family writes its index after the sound and goes back to point at it, which a
// pipe or device cannot take.
bool needsSeekableOutput(const Encoding& encoding);

// Fills *encoding for the settings, the output path (format codes 1 and 7 go by the
// path's extension) and the channel count. Returns 0, err::InvalidExportSettings for a
// format code, mode or value the table does not know, or err::NotAvailableForFormat
// for format code 7 with an extension that cannot keep an MP3 or AAC encoding.
int32_t chooseEncoding(const OutputFormatSettings& settings, const QString& outputPath, int channels,
                       Encoding* encoding);

}  // namespace clipwren::soundeditor
