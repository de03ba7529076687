#pragma once
// The header frame of a cut MP3: a Xing (variable bit rate) or Info (constant) frame
// that counts the frames and bytes, maps time to bytes, and in its LAME extension tells
// gapless decoders how many samples to drop at the start (encoder delay) and at the end
// (padding), 12 bits each. Its CRC covers everything before it, so that decoders which
// check it take the fields.
#include "components/soundeditor/lossless/Mp3Frames.h"

#include <QByteArray>
#include <array>
#include <cstdint>
#include <optional>

namespace clipwren::soundeditor::mp3 {

struct InfoFrameFields {
    bool constantBitRate = false;
    uint32_t frames = 0;  // audio frames after the header frame
    // The header frame and the audio frames, and the byte position of each hundredth of
    // the time in 256ths of that; a stream's header, written before its frames, has
    // neither (nullopt), and leaves both fields out.
    std::optional<uint32_t> bytes;
    std::array<uint8_t, 100> toc{};
    std::optional<uint32_t> quality;
    int encoderDelay = 0;
    int padding = 0;
    uint16_t musicCrc = 0;  // CRC-16 of the audio frames; 0 for a stream
    // The source's LAME extension (36 bytes), whose encoder name and settings are carried
    // over; empty when the source had none.
    QByteArray sourceLame;
};

// The header for the frame: the stream's own bit rate for a constant-rate stream, else
// the smallest that holds the fields.
FrameHeader infoFrameHeader(const FrameHeader& stream, bool constantBitRate);
QByteArray buildInfoFrame(const FrameHeader& header, const InfoFrameFields& fields);

// CRC-16 as LAME and FFmpeg compute it (polynomial 0x8005, bits reflected, start 0).
uint16_t crc16(const char* data, int64_t length, uint16_t crc = 0);

}  // namespace clipwren::soundeditor::mp3
