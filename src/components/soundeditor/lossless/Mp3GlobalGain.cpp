#include "components/soundeditor/lossless/Mp3GlobalGain.h"

#include "components/soundeditor/lossless/Mp3InfoFrame.h"

#include <array>
#include <cmath>

namespace clipwren::soundeditor::mp3 {

namespace {

// The side info: main_data_begin and the private bits (and in MPEG-1 each channel's
// scale factor selection), then per granule and channel a block that starts with
// part2_3_length (12 bits), big_values (9) and global_gain (8).
int firstBlockBit(const FrameHeader& header) {
    if (header.mpeg1) return header.mono ? 9 + 5 + 4 : 9 + 3 + 2 * 4;
    return header.mono ? 8 + 1 : 8 + 2;
}
int blockBits(const FrameHeader& header) { return header.mpeg1 ? 59 : 63; }
constexpr int kGlobalGainBit = 12 + 9;

unsigned readBits(const uint8_t* bytes, int bit, int count) {
    unsigned value = 0;
    for (int i = bit; i < bit + count; ++i) value = (value << 1) | ((bytes[i / 8] >> (7 - i % 8)) & 1u);
    return value;
}

void writeBits(uint8_t* bytes, int bit, int count, unsigned value) {
    for (int i = bit + count - 1; i >= bit; --i, value >>= 1) {
        const uint8_t mask = uint8_t(0x80 >> (i % 8));
        bytes[i / 8] = uint8_t((value & 1u) ? bytes[i / 8] | mask : bytes[i / 8] & ~mask);
    }
}

uint8_t reversed(uint8_t byte) {
    uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit, byte >>= 1) out = uint8_t((out << 1) | (byte & 1u));
    return out;
}

// The frame's CRC (polynomial 0x8005, start 0xFFFF, most significant bit first) over the
// header's last two bytes and the side info. crc16 takes the bits in the other order:
// fed with each byte's bits reversed, its register holds this CRC reversed.
uint16_t frameCrc(const uint8_t* frame, const FrameHeader& header) {
    std::array<char, 2 + 32> covered{};
    const int length = 2 + header.sideInfoSize();
    for (int i = 0; i < length; ++i) covered[size_t(i)] = char(reversed(frame[i < 2 ? 2 + i : 4 + i]));
    const uint16_t crc = crc16(covered.data(), length, 0xFFFF);
    return uint16_t(reversed(uint8_t(crc & 0xFF)) << 8 | reversed(uint8_t(crc >> 8)));
}

}  // namespace

int globalGainSteps(double gainDb, double maxGainDb) {
    int steps = int(std::lround(gainDb / kGlobalGainStepDb));
    while (steps * kGlobalGainStepDb > maxGainDb) --steps;
    return steps;
}

bool addGlobalGain(uint8_t* frame, int size, const FrameHeader& header, int steps) {
    const int sideInfo = 4 + (header.crcProtected ? 2 : 0);
    if (steps == 0 || size < sideInfo + header.sideInfoSize()) return steps == 0;
    uint8_t* bits = frame + sideInfo;
    const int blocks = (header.mpeg1 ? 2 : 1) * header.channels();
    std::array<int, 4> gains{};
    for (int block = 0; block < blocks; ++block) {
        const int at = firstBlockBit(header) + block * blockBits(header);
        const bool codesNothing = readBits(bits, at, 12) == 0;  // part2_3_length
        const int gain = int(readBits(bits, at + kGlobalGainBit, 8));
        gains[size_t(block)] = codesNothing ? gain : gain + steps;
        if (gains[size_t(block)] < 0 || gains[size_t(block)] > 255) return false;
    }
    for (int block = 0; block < blocks; ++block)
        writeBits(bits, firstBlockBit(header) + block * blockBits(header) + kGlobalGainBit, 8,
                  unsigned(gains[size_t(block)]));
    if (header.crcProtected) {
        const uint16_t crc = frameCrc(frame, header);
        frame[4] = uint8_t(crc >> 8);
        frame[5] = uint8_t(crc & 0xFF);
    }
    return true;
}

}  // namespace clipwren::soundeditor::mp3
