#pragma once
// An MPEG audio Layer III file seen frame by frame, without decoding: the ID3v2 block in
// front, the Xing/Info/VBRI header frame with its LAME gapless fields, and for every audio
// frame where it lies, its size and how far back in the bit reservoir its main data starts
// (main_data_begin). The lossless cut is planned from this index.
#include "components/soundeditor/lossless/FileWindow.h"
#include "components/soundeditor/lossless/StreamCopy.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace clipwren::soundeditor::mp3 {

// FFmpeg's decoder delay (528 + 1 samples), which it adds to a LAME tag's encoder delay
// and subtracts from its padding.
constexpr int kDecoderDelay = 529;
// The LAME extension after the Xing/Info fields, and the ID3v1 tag at a file's end.
constexpr int kLameTagSize = 36;
constexpr int kId3v1Size = 128;

struct FrameHeader {
    bool mpeg1 = false;  // MPEG-1: 1152 samples in two granules; MPEG-2 and 2.5: 576 in one
    bool crcProtected = false;
    bool mono = false;
    int bitRateIndex = 0;
    int bitRate = 0;  // bits per second
    int sampleRate = 0;
    int size = 0;  // bytes, header included
    uint8_t bytes[4] = {};

    int channels() const { return mono ? 1 : 2; }
    int samplesPerFrame() const { return mpeg1 ? 1152 : 576; }
    int sideInfoSize() const { return mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17); }
    // Where the frame's own share of main data starts.
    int mainDataOffset() const { return 4 + (crcProtected ? 2 : 0) + sideInfoSize(); }
    // Same stream parameters: what consecutive frames of one stream agree on.
    bool sameStream(const FrameHeader& other) const;
};

// The ID3v2 tag starting at the (ten or more) bytes: its whole length, header and footer
// included; 0 for none.
int64_t id3v2Length(const uint8_t* bytes);

// The four bytes are an MPEG audio header of free format (bit rate index 0): no header
// gives the size of its frames.
bool isFreeFormatHeader(const uint8_t* bytes);

// nullopt unless the four bytes are a Layer III header with a bit rate from the table
// (free format, index 0, has no frame size in its header).
std::optional<FrameHeader> parseFrameHeader(const uint8_t* bytes);

// How many bytes of earlier frames' main data the frame starts with (its side info's
// main_data_begin); the frame's bytes up to its main data.
int mainDataBegin(const uint8_t* frame, const FrameHeader& header);

// A header of the same stream for a frame of our own: the given bit rate index, no
// padding, no CRC and no joint-stereo tools (its side info says nothing is coded).
// Index 0 when no bit rate gives a frame of at least minBytes; from is the lowest tried.
FrameHeader ownFrameHeader(const FrameHeader& stream, int minBytes, int fromIndex = 1);

struct Frame {
    int64_t offset = 0;
    uint16_t size = 0;
    uint16_t mainDataBegin = 0;  // bytes of earlier frames' main data this frame starts with
    uint8_t bitRateIndex = 0;
};

// The LAME extension of a Xing/Info header, as FFmpeg reads it: it trusts the delay and
// padding only when the encoder string starts with "LAME", "Lavf" or "Lavc".
struct LameTag {
    bool trusted = false;
    int encoderDelay = 0;  // samples the encoder put before the sound
    int padding = 0;       // samples after it, in the last frames
    QByteArray fields;     // the 36 bytes of the extension as found
};

struct Mp3Index {
    int64_t id3v2Size = 0;  // the ID3v2 tags at the start of the file: bytes [0, id3v2Size)
    int64_t streamOffset = 0;  // where the first frame starts, the header frame where there is one
    FrameHeader stream;     // the first audio frame's header: the stream's parameters
    bool hasHeaderFrame = false;      // a Xing/Info/VBRI frame that decoders skip
    bool variableBitRate = false;     // the header frame says so ("Xing", VBRI)
    uint32_t headerFrameCount = 0;    // the audio frames the header frame says there are
    uint32_t headerByteCount = 0;     // the bytes of the stream it says there are
    std::optional<uint32_t> quality;  // the Xing header's quality field
    LameTag lame;
    std::vector<Frame> frames;  // the audio frames, from the stream's frame firstFrame on
    int64_t firstFrame = 0;
    int64_t frameCount = 0;     // the audio frames counted, also those outside `frames`
    bool reachedEnd = false;    // the count is the stream's

    // Samples FFmpeg drops before the first one of the decoded sound.
    int64_t decoderSkip() const { return lame.trusted ? lame.encoderDelay + kDecoderDelay : 0; }
    // Said by no header frame and seen in every frame indexed.
    bool constantBitRate() const;
};

// The ID3v2 tags of a file's head (the bytes [0, id3v2Size)) for a piece of the file:
// a TLEN frame gives the whole sound's length, which the piece's is not, so it is
// dropped, each tag keeping its size with padding in its place. A tag that cannot be
// walked safely (unsynchronised, with an extended header or a footer) stays as it is.
QByteArray id3v2WithoutLength(QByteArray tags);
// One ID3v2 tag for a piece that carries tag fields of its own (a cue sheet's track):
// the frames of the head's first tag (version 3 or 4, walkable as above) less TLEN and
// the frames `fields` replace, then those fields as text frames; a new version 4 tag
// where the head has none that can be walked. Fields without an ID3v2 frame are left out.
QByteArray id3v2Replacing(const QByteArray& tags, const TagFields& fields);

// What lies at `offset` of a stream whose first audio frame has the header `first`.
enum class FrameAt {
    Frame,    // a frame of the stream; its header in *header
    End,      // the end of the stream: the file's end, an ID3v1 or APE tag, a last frame cut short
    Damaged,  // anything else: damage, or a stream that changes its format
};
FrameAt frameAt(FileWindow& file, int64_t offset, const FrameHeader& first, FrameHeader* header);
// Why a stream whose frames stop following each other at `offset` is refused.
QString damagedAt(int64_t offset);

// Reads the head of the file and indexes its audio frames up to the one that holds
// decoded sample `untilSample` (counted as the decoded sound counts them, after the
// encoder delay; -1 for all), or to the end of the stream when the file ends first.
// Fails with copyNotPossible(why) when the file is not a plain Layer III stream (free
// format, another layer, data between frames, parameters that change part-way, no
// frame). Mp3FrameIndex finds the frames of a piece without walking those before it.
Result<Mp3Index> indexMp3(const QString& path, int64_t untilSample);

}  // namespace clipwren::soundeditor::mp3
