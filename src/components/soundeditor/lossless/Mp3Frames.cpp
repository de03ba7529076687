#include "components/soundeditor/lossless/Mp3Frames.h"

#include <QtEndian>
#include <algorithm>
#include <limits>

namespace clipwren::soundeditor::mp3 {

namespace {

constexpr int kBitRatesMpeg1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kBitRatesMpeg2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int kSampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

constexpr int kXingFlagFrames = 1, kXingFlagBytes = 2, kXingFlagToc = 4, kXingFlagQuality = 8;

int frameBytes(bool mpeg1, int bitRate, int sampleRate, bool padded) {
    return (mpeg1 ? 144 : 72) * bitRate / sampleRate + (padded ? 1 : 0);
}

uint32_t bigEndian32(const uint8_t* p) { return qFromBigEndian<quint32>(p); }

// FFmpeg's reading of a Xing/Info header (at a fixed place after the side info, whether
// or not the frame has a CRC) and of a VBRI header (32 bytes after the frame header).
// Returns false for a header frame FFmpeg would not skip yet trims by.
bool hasXingTag(const uint8_t* frame, const FrameHeader& header) {
    const uint8_t* tag = frame + 4 + header.sideInfoSize();
    return header.size >= 4 + header.sideInfoSize() + 4 &&
           (std::equal(tag, tag + 4, "Xing") || std::equal(tag, tag + 4, "Info"));
}

bool readHeaderFrame(const uint8_t* frame, const FrameHeader& header, Mp3Index* index) {
    const int xingAt = 4 + header.sideInfoSize();
    const uint8_t* tag = frame + xingAt;
    const bool xing = hasXingTag(frame, header);
    const bool vbri = header.size >= 36 + 18 && std::equal(frame + 36, frame + 40, "VBRI") && frame[40] == 0 &&
                      frame[41] == 1;  // version 1 is the one FFmpeg reads
    if (!xing && !vbri) return true;
    if (vbri) {
        // Frame count and size say nothing about delay: FFmpeg just skips the frame.
        index->headerFrameCount = bigEndian32(frame + 36 + 14);
        index->headerByteCount = bigEndian32(frame + 36 + 10);
        index->hasHeaderFrame = bigEndian32(frame + 36 + 10) != 0 || index->headerFrameCount != 0;
        index->variableBitRate = true;
        return true;
    }
    index->variableBitRate = std::equal(tag, tag + 4, "Xing");
    const uint32_t flags = bigEndian32(tag + 4);
    int at = xingAt + 8;
    uint32_t frames = 0, bytes = 0;
    auto field = [&](uint32_t* value) {
        if (at + 4 > header.size) return;
        *value = bigEndian32(frame + at);
        at += 4;
    };
    if (flags & kXingFlagFrames) field(&frames);
    if (flags & kXingFlagBytes) field(&bytes);
    if (flags & kXingFlagToc) at += 100;
    if (flags & kXingFlagQuality) {
        uint32_t quality = 0;
        field(&quality);
        index->quality = quality;
    }
    if (at + kLameTagSize <= header.size) {
        const uint8_t* lame = frame + at;
        LameTag& tag = index->lame;
        tag.fields = QByteArray(reinterpret_cast<const char*>(lame), kLameTagSize);
        tag.trusted = tag.fields.startsWith("LAME") || tag.fields.startsWith("Lavf") || tag.fields.startsWith("Lavc");
        tag.encoderDelay = (lame[21] << 4) | (lame[22] >> 4);
        tag.padding = ((lame[22] & 0x0F) << 8) | lame[23];
    }
    // Without a frame count or size FFmpeg decodes the header frame as sound and still
    // trims by its delay: too odd a file to copy from.
    index->headerFrameCount = frames;
    index->headerByteCount = bytes;
    index->hasHeaderFrame = frames != 0 || bytes != 0;
    return index->hasHeaderFrame || !index->lame.trusted;
}

bool sameMaskedHeader(const FrameHeader& a, const FrameHeader& b) {
    constexpr uint8_t kMask[4] = {0xFF, 0xFE, 0x0C, 0xCF};  // FFmpeg's MP3_MASK
    for (int i = 0; i < 4; ++i)
        if ((a.bytes[i] ^ b.bytes[i]) & kMask[i]) return false;
    return true;
}

}  // namespace

int mainDataBegin(const uint8_t* frame, const FrameHeader& header) {
    const uint8_t* side = frame + 4 + (header.crcProtected ? 2 : 0);
    return header.mpeg1 ? (side[0] << 1) | (side[1] >> 7) : side[0];
}

int64_t id3v2Length(const uint8_t* p) {
    if (p[0] != 'I' || p[1] != 'D' || p[2] != '3' || p[3] == 0xFF || p[4] == 0xFF) return 0;
    if ((p[6] | p[7] | p[8] | p[9]) & 0x80) return 0;  // the size is four 7-bit bytes
    const int64_t size = (int64_t(p[6]) << 21) | (p[7] << 14) | (p[8] << 7) | p[9];
    const bool footer = p[5] & 0x10;
    return 10 + size + (footer ? 10 : 0);
}

bool isFreeFormatHeader(const uint8_t* bytes) {
    const int layer = (bytes[1] >> 1) & 3;
    return bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0 && layer != 0 && (bytes[2] >> 4) == 0;
}

bool FrameHeader::sameStream(const FrameHeader& other) const {
    return mpeg1 == other.mpeg1 && mono == other.mono && sampleRate == other.sampleRate;
}

std::optional<FrameHeader> parseFrameHeader(const uint8_t* bytes) {
    if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return std::nullopt;
    const int version = (bytes[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    const int layer = (bytes[1] >> 1) & 3;    // 1: Layer III
    const int bitRateIndex = bytes[2] >> 4;
    const int sampleRateIndex = (bytes[2] >> 2) & 3;
    if (version == 1 || layer != 1 || bitRateIndex == 0 || bitRateIndex == 15 || sampleRateIndex == 3)
        return std::nullopt;
    FrameHeader header;
    header.mpeg1 = version == 3;
    header.crcProtected = !(bytes[1] & 1);
    header.mono = (bytes[3] >> 6) == 3;
    header.bitRateIndex = bitRateIndex;
    header.bitRate = (header.mpeg1 ? kBitRatesMpeg1 : kBitRatesMpeg2)[bitRateIndex] * 1000;
    header.sampleRate = kSampleRates[version][sampleRateIndex];
    header.size = frameBytes(header.mpeg1, header.bitRate, header.sampleRate, bytes[2] & 2);
    std::copy(bytes, bytes + 4, header.bytes);
    return header;
}

FrameHeader ownFrameHeader(const FrameHeader& stream, int minBytes, int fromIndex) {
    FrameHeader own = stream;
    own.crcProtected = false;
    own.bitRateIndex = 0;
    for (int index = std::max(fromIndex, 1); index < 15; ++index) {
        const int bitRate = (stream.mpeg1 ? kBitRatesMpeg1 : kBitRatesMpeg2)[index] * 1000;
        if (frameBytes(stream.mpeg1, bitRate, stream.sampleRate, false) >= minBytes) {
            own.bitRateIndex = index;
            own.bitRate = bitRate;
            break;
        }
    }
    own.size = own.bitRateIndex ? frameBytes(stream.mpeg1, own.bitRate, stream.sampleRate, false) : 0;
    own.bytes[1] |= 1;                                                    // no CRC
    own.bytes[2] = uint8_t((own.bitRateIndex << 4) | (own.bytes[2] & 0x0C));  // sample rate kept, no padding
    own.bytes[3] &= 0xCF;                                                 // mode extension off
    return own;
}

QByteArray id3v2WithoutLength(QByteArray tags) {
    constexpr uint8_t kUnsynchronised = 0x80, kExtendedHeader = 0x40, kFooter = 0x10;
    constexpr int kHeader = 10;  // of the tag and of each frame
    for (qsizetype tag = 0; tag + kHeader <= tags.size();) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(tags.constData()) + tag;
        const qsizetype length = qsizetype(id3v2Length(bytes));
        if (length <= 0 || tag + length > tags.size()) break;
        const int version = bytes[3];
        const qsizetype end = tag + length;
        qsizetype at = tag + kHeader;
        if ((version == 3 || version == 4) && !(bytes[5] & (kUnsynchronised | kExtendedHeader | kFooter))) {
            while (at + kHeader <= end && tags[at] != '\0') {
                const auto* frame = reinterpret_cast<const uint8_t*>(tags.constData()) + at;
                // Version 4 sizes are four 7-bit bytes, version 3 sizes plain.
                const qsizetype size = version == 4 ? (frame[4] << 21) | (frame[5] << 14) | (frame[6] << 7) | frame[7]
                                                    : qsizetype(bigEndian32(frame + 4));
                if (size < 0 || at + kHeader + size > end) break;
                if (tags.mid(at, 4) != "TLEN") {
                    at += kHeader + size;
                    continue;
                }
                tags.remove(at, kHeader + size);
                tags.insert(end - kHeader - size, QByteArray(kHeader + size, '\0'));
            }
        }
        tag = end;
    }
    return tags;
}

QByteArray id3v2Replacing(const QByteArray& tags, const TagFields& fields) {
    constexpr uint8_t kUnsynchronised = 0x80, kExtendedHeader = 0x40, kFooter = 0x10;
    constexpr int kHeader = 10;  // of the tag and of each frame
    static const std::pair<QByteArray, QByteArray> kFrameIds[] = {
        {"title", "TIT2"}, {"artist", "TPE1"}, {"album", "TALB"}, {"album_artist", "TPE2"}, {"track", "TRCK"}};
    const auto frameIdOf = [](const QByteArray& name) {
        for (const auto& [field, id] : kFrameIds)
            if (field == name) return id;
        return QByteArray();
    };
    const auto sevenBitBytes = [](qsizetype size) {
        const char bytes[] = {char((size >> 21) & 0x7F), char((size >> 14) & 0x7F), char((size >> 7) & 0x7F),
                              char(size & 0x7F)};
        return QByteArray(bytes, 4);
    };
    QByteArray replacedIds = "TLEN";
    for (const auto& [name, value] : fields) replacedIds += frameIdOf(name);

    int version = 4;
    QByteArray frames;
    const auto* head = reinterpret_cast<const uint8_t*>(tags.constData());
    const qsizetype length = tags.size() >= kHeader ? qsizetype(id3v2Length(head)) : 0;
    if (length > 0 && length <= tags.size() && (head[3] == 3 || head[3] == 4) &&
        !(head[5] & (kUnsynchronised | kExtendedHeader | kFooter))) {
        version = head[3];
        for (qsizetype at = kHeader; at + kHeader <= length && tags[at] != '\0';) {
            const auto* frame = head + at;
            // Version 4 sizes are four 7-bit bytes, version 3 sizes plain.
            const qsizetype size = version == 4 ? (frame[4] << 21) | (frame[5] << 14) | (frame[6] << 7) | frame[7]
                                                : qsizetype(bigEndian32(frame + 4));
            if (size < 0 || at + kHeader + size > length) break;
            const QByteArray id = tags.mid(at, 4);
            bool replaced = false;
            for (qsizetype i = 0; i + 4 <= replacedIds.size(); i += 4) replaced |= replacedIds.mid(i, 4) == id;
            if (!replaced) frames += tags.mid(at, kHeader + size);
            at += kHeader + size;
        }
    }
    for (const auto& [name, value] : fields) {
        const QByteArray id = frameIdOf(name);
        if (id.isEmpty()) continue;
        // UTF-8 is version 4's; version 3 takes UTF-16 with its byte order mark.
        QByteArray text;
        if (version == 4) {
            text = '\x03' + value;
        } else {
            const QString unicode = QString::fromUtf8(value);
            text = QByteArray("\x01\xFF\xFE", 3) +
                   QByteArray(reinterpret_cast<const char*>(unicode.utf16()), unicode.size() * 2);
        }
        QByteArray size = sevenBitBytes(text.size());
        if (version == 3) qToBigEndian<quint32>(quint32(text.size()), size.data());
        frames += id + size + QByteArray(2, '\0') + text;
    }
    return QByteArray("ID3") + char(version) + QByteArray(2, '\0') + sevenBitBytes(frames.size()) + frames;
}

FrameAt frameAt(FileWindow& file, int64_t offset, const FrameHeader& first, FrameHeader* header) {
    const int64_t fileSize = file.size();
    const uint8_t* bytes = nullptr;
    if (offset >= fileSize ||
        (offset + kId3v1Size == fileSize && file.view(offset, 3, &bytes) && std::equal(bytes, bytes + 3, "TAG")))
        return FrameAt::End;
    // An APE tag ends the stream as well; a last frame cut short is no frame.
    if (file.view(offset, 8, &bytes) && std::equal(bytes, bytes + 8, "APETAGEX")) return FrameAt::End;
    const std::optional<FrameHeader> parsed = file.view(offset, 4, &bytes) ? parseFrameHeader(bytes) : std::nullopt;
    if (parsed && offset + parsed->size > fileSize) return FrameAt::End;
    if (!parsed || !parsed->sameStream(first)) return FrameAt::Damaged;
    *header = *parsed;
    return FrameAt::Frame;
}

QString damagedAt(int64_t offset) {
    return QStringLiteral("the stream is damaged or changes its format at byte %1").arg(offset);
}

bool Mp3Index::constantBitRate() const {
    return !variableBitRate && std::all_of(frames.begin(), frames.end(),
                       [this](const Frame& f) { return f.bitRateIndex == frames.front().bitRateIndex; });
}

Result<Mp3Index> indexMp3(const QString& path, int64_t untilSample) {
    FileWindow file(path);
    if (!file.isOpen()) return copyNotPossible(QStringLiteral("the file cannot be read"));
    Mp3Index index;
    int64_t offset = 0;
    const uint8_t* bytes = nullptr;
    while (file.view(offset, 10, &bytes) && id3v2Length(bytes) > 0) offset += id3v2Length(bytes);
    index.id3v2Size = offset;
    // Taggers may leave zeros between the tag and the first frame.
    while (file.view(offset, 1, &bytes) && bytes[0] == 0) ++offset;

    if (!file.view(offset, 4, &bytes)) return copyNotPossible(QStringLiteral("no MPEG audio frame was found"));
    const std::optional<FrameHeader> first = parseFrameHeader(bytes);
    if (!first) {
        return copyNotPossible(isFreeFormatHeader(bytes)
                                   ? QStringLiteral("the stream is free-format MPEG audio")
                                   : QStringLiteral("the file does not start with a Layer III frame"));
    }
    if (!file.view(offset, first->size, &bytes)) return copyNotPossible(QStringLiteral("the first frame is cut short"));
    // FFmpeg looks for a Xing/Info header only right after the ID3v2 tags: behind zeros
    // it decodes that frame as sound (silence) and trims nothing, and a copy must hold
    // what a decode of the same range holds.
    const bool behindZeros = offset != index.id3v2Size;
    if (!behindZeros && !readHeaderFrame(bytes, *first, &index))
        return copyNotPossible(QStringLiteral("its Xing header is incomplete"));
    bool unreadHeaderFrame = behindZeros && hasXingTag(bytes, *first);
    index.streamOffset = offset;
    if (index.hasHeaderFrame) offset += first->size;

    const int64_t samplesPerFrame = first->samplesPerFrame();
    const int64_t framesWanted =
        untilSample < 0 ? -1 : (untilSample + index.decoderSkip() + samplesPerFrame - 1) / samplesPerFrame;
    const int64_t framesKept = framesWanted < 0 ? std::numeric_limits<int64_t>::max() : framesWanted;
    while (index.frameCount < framesKept) {
        FrameHeader header;
        const FrameAt at = frameAt(file, offset, *first, &header);
        if (at == FrameAt::End) {
            index.reachedEnd = true;
            break;
        }
        if (at == FrameAt::Damaged)
            return copyNotPossible(damagedAt(offset));
        if (!file.view(offset, header.mainDataOffset(), &bytes))
            return copyNotPossible(QStringLiteral("the file cannot be read"));
        // FFmpeg starts the stream at the first frame whose successor agrees with it in
        // these header bits; anything before is junk to it. Of such junk only a header
        // frame it did not read as one (FFmpeg's own, whose header differs) is followed.
        if (index.frameCount == 1 && !sameMaskedHeader(index.stream, header)) {
            if (!unreadHeaderFrame) return copyNotPossible(QStringLiteral("the stream's first two frames disagree"));
            index.frames.clear();
            index.frameCount = 0;
            unreadHeaderFrame = false;
        }
        if (index.frameCount == 0) index.stream = header;
        ++index.frameCount;
        index.frames.push_back(Frame{offset, uint16_t(header.size), uint16_t(mainDataBegin(bytes, header)),
                                     uint8_t(header.bitRateIndex)});
        offset += header.size;
    }
    if (index.frameCount == 0) return copyNotPossible(QStringLiteral("the stream holds no audio frame"));
    return index;
}

}  // namespace clipwren::soundeditor::mp3
