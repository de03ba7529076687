#include "components/soundeditor/lossless/Mp3InfoFrame.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>

extern "C" {
#include <libavformat/version.h>
}

namespace clipwren::soundeditor::mp3 {

namespace {

constexpr uint32_t kAllXingFields = 0x0F;  // frames, bytes, table of contents, quality
constexpr uint32_t kFramesAndQuality = 0x09;
constexpr int kXingFieldsSize = 4 + 4 + 4 + 4 + 100 + 4;
// The LAME extension's fields, by offset.
constexpr int kLameVersion = 0, kLameVersionSize = 9;
constexpr int kLameRevisionAndMethod = 9, kLameLowpass = 10;
constexpr int kLamePeakAndGains = 11, kLamePeakAndGainsSize = 8;
constexpr int kLameDelayAndPadding = 21;
constexpr int kLameMusicLength = 28, kLameMusicCrc = 32, kLameTagCrc = 34;

void putBig32(char* at, uint32_t value) { qToBigEndian<quint32>(value, at); }

// Byte-at-a-time table of the CRC (FFmpeg's AV_CRC_16_ANSI_LE). Our own rather than
// libavutil's, so that clipwren-cut's quick copy runs without loading FFmpeg.
constexpr std::array<uint16_t, 256> kCrcTable = [] {
    std::array<uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t crc = uint16_t(byte);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        table[byte] = crc;
    }
    return table;
}();

}  // namespace

uint16_t crc16(const char* data, int64_t length, uint16_t crc) {
    for (int64_t i = 0; i < length; ++i) crc = uint16_t((crc >> 8) ^ kCrcTable[(crc ^ uint8_t(data[i])) & 0xFF]);
    return crc;
}

FrameHeader infoFrameHeader(const FrameHeader& stream, bool constantBitRate) {
    const int needed = 4 + stream.sideInfoSize() + kXingFieldsSize + kLameTagSize;
    const FrameHeader own = ownFrameHeader(stream, needed, constantBitRate ? stream.bitRateIndex : 1);
    // A rate too low for the fields (below 48 kbit/s at 48 kHz): the smallest that holds them.
    return own.bitRateIndex ? own : ownFrameHeader(stream, needed);
}

QByteArray buildInfoFrame(const FrameHeader& header, const InfoFrameFields& fields) {
    QByteArray frame(header.size, '\0');
    char* out = frame.data();
    std::copy(header.bytes, header.bytes + 4, out);
    char* xing = out + 4 + header.sideInfoSize();
    std::memcpy(xing, fields.constantBitRate ? "Info" : "Xing", 4);
    // The fields present follow each other; the LAME extension follows the last.
    char* field = xing + 8;
    putBig32(field, fields.frames);
    field += 4;
    if (fields.bytes) {
        putBig32(field, *fields.bytes);
        std::copy(fields.toc.begin(), fields.toc.end(), field + 4);
        field += 4 + 100;
    }
    putBig32(field, fields.quality.value_or(0));
    putBig32(xing + 4, fields.bytes ? kAllXingFields : kFramesAndQuality);

    char* lame = field + 4;
    if (fields.sourceLame.size() == kLameTagSize) {
        std::memcpy(lame, fields.sourceLame.constData(), kLameTagSize);
        // Peak and replay gain described the whole source, not the piece.
        std::fill_n(lame + kLamePeakAndGains, kLamePeakAndGainsSize, '\0');
    } else {
        // As FFmpeg's own muxer names itself, so that FFmpeg trusts the delay and padding.
        const char* ident = LIBAVFORMAT_IDENT;
        std::memcpy(lame + kLameVersion, ident, std::min<size_t>(std::strlen(ident), kLameVersionSize));
        lame[kLameRevisionAndMethod] = 0;
        lame[kLameLowpass] = 0;
    }
    lame[kLameDelayAndPadding] = char(fields.encoderDelay >> 4);
    lame[kLameDelayAndPadding + 1] = char(((fields.encoderDelay & 0x0F) << 4) | (fields.padding >> 8));
    lame[kLameDelayAndPadding + 2] = char(fields.padding & 0xFF);
    putBig32(lame + kLameMusicLength, fields.bytes.value_or(0));
    qToBigEndian<quint16>(fields.musicCrc, lame + kLameMusicCrc);
    const int64_t covered = (lame + kLameTagCrc) - out;
    qToBigEndian<quint16>(crc16(out, covered), lame + kLameTagCrc);
    return frame;
}

}  // namespace clipwren::soundeditor::mp3
