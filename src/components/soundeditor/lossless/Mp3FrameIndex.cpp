#include "components/soundeditor/lossless/Mp3FrameIndex.h"

#include "components/soundeditor/lossless/Mp3Cut.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <limits>

namespace clipwren::soundeditor::mp3 {

namespace {

// 64 frames (1.7 s of MPEG-1 at 44.1 kHz) between checkpoints: 16 bytes each (number and
// place) make 34 KB for an hour, and finding a frame walks at most 63 headers in one read.
constexpr int64_t kCheckpointFrames = 64;
// The head read for the stream's parameters covers its first two frames (the first may
// be a header frame), which must agree for FFmpeg to start there.
constexpr int64_t kHeadSamples = 2 * 1152;
// A lossless cut copies from up to two frames before the piece (two granules), and its
// first frame's main data may start that far back in earlier frames: up to 511 bytes in
// MPEG-1 and 255 in MPEG-2, which the smallest MPEG-2 frames (8 kbit/s at 24 kHz, 3
// bytes of main data each) spread over 85 frames.
constexpr int64_t kLeadFrames = 2;
constexpr int64_t kReservoirFrames = 96;
// The walk ahead takes the walk's state for this many frames at a time (under a
// millisecond: 1.8 minutes of MPEG-1 at 44.1 kHz), so a seek waits no longer for it.
constexpr int64_t kWalkAheadFrames = 4096;
// Damage longer than this ends the stream: 64 KiB is four seconds at 128 kbit/s.
constexpr int64_t kResyncBytes = 64 * 1024;
// APE tag footer: "APETAGEX", version, size (items and footer), item count, flags.
constexpr int kApeFooterSize = 32;
constexpr uint32_t kApeHasHeader = 0x80000000u;

}  // namespace

Mp3FrameIndex::Mp3FrameIndex(PrivateKey, const QString& path) : path_(path), file_(path) {}

Mp3FrameIndex::~Mp3FrameIndex() {
    stopWalking_ = true;
    if (walker_.joinable()) walker_.join();
}

void Mp3FrameIndex::walkAhead() {
    if (byRate_ || walkEnded_ || walker_.joinable()) return;
    walker_ = std::thread([this] {
        FileWindow file(path_);
        for (int64_t until = kWalkAheadFrames; !stopWalking_; until += kWalkAheadFrames) {
            const std::lock_guard lock(walkLock_);
            if (!walkPast(file, until)) return;
        }
    });
}

Result<std::unique_ptr<Mp3FrameIndex>> Mp3FrameIndex::open(const QString& path) {
    auto index = std::make_unique<Mp3FrameIndex>(PrivateKey{}, path);
    if (Failure failure = index->readHead(path); failure.failed()) return failure;
    return index;
}

Failure Mp3FrameIndex::readHead(const QString& path) {
    if (!file_.isOpen()) return copyNotPossible(QStringLiteral("the file cannot be read"));
    Result<Mp3Index> head = indexMp3(path, kHeadSamples);
    if (!head) return head.failure();
    firstAudio_ = head->frames.front().offset;
    head_ = std::move(*head);
    head_.frames.clear();
    head_.frameCount = 0;
    head_.reachedEnd = false;
    walkOffset_ = firstAudio_;

    audioEnd_ = audioEnd();
    if (headerCoversFile(audioEnd_)) {
        counted_ = true;
        frameCount_ = head_.headerFrameCount;
        averageFrameBytes_ = double(audioEnd_ - firstAudio_) / double(frameCount_);
        const FrameHeader& stream = head_.stream;
        const double nominal = (stream.mpeg1 ? 144.0 : 72.0) * stream.bitRate / stream.sampleRate;
        byRate_ = !head_.variableBitRate && std::abs(averageFrameBytes_ - nominal) * double(frameCount_) <= nominal;
        return {};
    }
    // Damage ends the frames that can be read: a cut before it can still be copied.
    walkPast(file_, std::numeric_limits<int64_t>::max() - 1);
    frameCount_ = walkedFrames_;
    return {};
}

// Where the audio ends: before an ID3v1 tag and an APE tag at the end of the file.
int64_t Mp3FrameIndex::audioEnd() {
    int64_t end = file_.size();
    const uint8_t* bytes = nullptr;
    if (end >= kId3v1Size && file_.view(end - kId3v1Size, 3, &bytes) && std::equal(bytes, bytes + 3, "TAG"))
        end -= kId3v1Size;
    if (end >= kApeFooterSize && file_.view(end - kApeFooterSize, kApeFooterSize, &bytes) &&
        std::equal(bytes, bytes + 8, "APETAGEX")) {
        const int64_t size = qFromLittleEndian<quint32>(bytes + 12);
        const bool header = qFromLittleEndian<quint32>(bytes + 20) & kApeHasHeader;
        end -= size + (header ? kApeFooterSize : 0);
    }
    return end;
}

// The header frame's counts are trusted when its byte count (from the header frame, or
// from the file's start as some encoders count) reaches the end of the audio, its frames
// have sizes the stream's bit rates allow, and a frame of the stream ends right there.
bool Mp3FrameIndex::headerCoversFile(int64_t end) {
    if (!head_.hasHeaderFrame || head_.headerFrameCount == 0) return false;
    const int64_t bytes = head_.headerByteCount;
    if (head_.streamOffset + bytes != end && bytes != end) return false;
    const FrameHeader& stream = head_.stream;
    const int64_t smallest = ownFrameHeader(stream, 0).size;
    const int64_t largest = ownFrameHeader(stream, 0, 14).size + 1;
    const int64_t frames = head_.headerFrameCount;
    if (end - firstAudio_ < frames * smallest || end - firstAudio_ > frames * largest) return false;
    const int64_t from = std::max(firstAudio_, end - largest);
    const uint8_t* tail = nullptr;
    if (!file_.view(from, int(end - from), &tail)) return false;
    for (int64_t at = end - smallest; at >= from; --at) {
        const std::optional<FrameHeader> last = parseFrameHeader(tail + (at - from));
        if (last && last->sameStream(stream) && at + last->size == end) return true;
    }
    return false;
}

std::optional<int64_t> Mp3FrameIndex::decodedLength() {
    if (const std::lock_guard lock(walkLock_); walkDamaged_) return std::nullopt;
    Mp3Index whole = head_;
    whole.frameCount = frameCount_;
    whole.reachedEnd = true;
    return mp3::decodedLength(whole);
}

bool Mp3FrameIndex::walkPast(FileWindow& file, int64_t number) {
    while (walkedFrames_ <= number && !walkEnded_) {
        FrameHeader header;
        const FrameAt at = frameAt(file, walkOffset_, head_.stream, &header);
        if (at == FrameAt::Damaged && counted_ && resync(file)) continue;
        if (at != FrameAt::Frame) {
            walkEnded_ = true;
            walkDamaged_ = at == FrameAt::Damaged;
            break;
        }
        if (walkedFrames_ % kCheckpointFrames == 0 && (checkpoints_.empty() || checkpoints_.back().number != walkedFrames_))
            checkpoints_.push_back({walkedFrames_, walkOffset_});
        bitRateVaries_ |= header.bitRateIndex != head_.stream.bitRateIndex;
        walkOffset_ += header.size;
        ++walkedFrames_;
    }
    return walkedFrames_ > number;
}

bool Mp3FrameIndex::resync(FileWindow& file) {
    const int64_t limit = std::min(audioEnd_, walkOffset_ + kResyncBytes);
    for (int64_t at = walkOffset_ + 1; at < limit; ++at) {
        if (!followedFrameAt(file, at)) continue;
        const int64_t lost = std::max<int64_t>(1, std::llround(double(at - walkOffset_) / averageFrameBytes_));
        if (walkedFrames_ + lost >= frameCount_) return false;
        walkedFrames_ += lost;
        walkOffset_ = at;
        checkpoints_.push_back({walkedFrames_, walkOffset_});
        return true;
    }
    return false;
}

std::optional<FrameHeader> Mp3FrameIndex::streamFrameAt(FileWindow& file, int64_t at) const {
    const uint8_t* bytes = nullptr;
    std::optional<FrameHeader> header = file.view(at, 4, &bytes) ? parseFrameHeader(bytes) : std::nullopt;
    if (!header || !header->sameStream(head_.stream)) return std::nullopt;
    return header;
}

bool Mp3FrameIndex::followedFrameAt(FileWindow& file, int64_t at) const {
    const std::optional<FrameHeader> header = streamFrameAt(file, at);
    return header && (at + header->size == audioEnd_ || streamFrameAt(file, at + header->size));
}

bool Mp3FrameIndex::locate(int64_t* number, int64_t* offset) {
    const int64_t wanted = *number;
    if (wanted < 0 || wanted >= frameCount_) return false;
    if (wanted == nextNumber_) {
        *offset = nextOffset_;
        return true;
    }
    if (wanted == 0) {
        *offset = firstAudio_;
        return true;
    }
    if (byRate_) {
        // A frame lost to damage: the next one found goes on.
        for (int64_t n = wanted; n < frameCount_ && n < wanted + kCheckpointFrames; ++n) {
            if (!locateByRate(n, offset)) continue;
            *number = n;
            return true;
        }
        return false;
    }
    Checkpoint from{}, next{-1, -1};
    {
        const std::lock_guard lock(walkLock_);
        if (!walkPast(file_, wanted)) return false;
        const auto checkpoint = std::upper_bound(checkpoints_.begin(), checkpoints_.end(), wanted,
                                                 [](int64_t n, const Checkpoint& c) { return n < c.number; });
        from = *std::prev(checkpoint);
        if (checkpoint != checkpoints_.end()) next = *checkpoint;
    }
    int64_t at = from.offset;
    for (int64_t n = from.number;; ++n) {
        const std::optional<FrameHeader> header = streamFrameAt(file_, at);
        if (!header) {
            // Lost to damage: the stream goes on at the next checkpoint.
            if (next.number < 0) return false;
            *number = next.number;
            *offset = next.offset;
            return true;
        }
        if (n == wanted) break;
        at += header->size;
    }
    *offset = at;
    return true;
}

// A constant-rate encoder pads frames so that frame n starts within a byte or two of n
// times the average frame size: the frame starting nearest that place, at the stream's
// bit rate and followed by another frame (or the end), is frame n.
bool Mp3FrameIndex::locateByRate(int64_t number, int64_t* offset) {
    const FrameHeader& stream = head_.stream;
    const int64_t estimate = firstAudio_ + std::llround(double(number) * averageFrameBytes_);
    const int64_t reach = int64_t(averageFrameBytes_ / 2);
    const int64_t from = std::max(firstAudio_, estimate - reach);
    const int64_t available = std::min<int64_t>(file_.size() - from, 2 * reach + 2 * (stream.size + 1) + 4);
    const uint8_t* bytes = nullptr;
    if (available < 4 || !file_.view(from, int(available), &bytes)) return false;
    auto frameOfStream = [&](int64_t at) -> std::optional<FrameHeader> {
        if (at + 4 > from + available) return std::nullopt;
        std::optional<FrameHeader> header = parseFrameHeader(bytes + (at - from));
        if (!header || !header->sameStream(stream) || header->bitRateIndex != stream.bitRateIndex) return std::nullopt;
        return header;
    };
    int64_t best = -1;
    for (int64_t at = from; at <= estimate + reach; ++at) {
        const std::optional<FrameHeader> header = frameOfStream(at);
        if (!header) continue;
        const int64_t next = at + header->size;
        const bool followed = number + 1 == frameCount_ || frameOfStream(next).has_value();
        if (followed && (best < 0 || std::llabs(at - estimate) < std::llabs(best - estimate))) best = at;
    }
    if (best < 0) return false;
    *offset = best;
    return true;
}

bool Mp3FrameIndex::frame(int64_t* number, const uint8_t** bytes, FrameHeader* header, int64_t* offset) {
    int64_t at = 0;
    const bool following = *number == nextNumber_;
    if (!locate(number, &at)) return false;
    std::optional<FrameHeader> parsed = streamFrameAt(file_, at);
    if (!parsed && following) {
        // Damage right after the frame read last: found again as a seek would.
        nextNumber_ = -1;
        if (!locate(number, &at)) return false;
        parsed = streamFrameAt(file_, at);
    }
    const uint8_t* data = nullptr;
    if (!parsed || !file_.view(at, parsed->size, &data)) return false;
    *bytes = data;
    *header = *parsed;
    if (offset) *offset = at;
    nextNumber_ = *number + 1;
    nextOffset_ = at + parsed->size;
    return true;
}

Result<Mp3Index> Mp3FrameIndex::framesForPiece(int64_t begin, int64_t end) {
    const int64_t perFrame = head_.stream.samplesPerFrame();
    const int64_t skip = head_.decoderSkip();
    const int64_t first = std::max<int64_t>(0, (begin + skip) / perFrame - kLeadFrames - kReservoirFrames);
    const int64_t last = (std::max(end, begin + 1) + skip - 1) / perFrame;
    Mp3Index piece = head_;
    {
        const std::lock_guard lock(walkLock_);
        if (last >= frameCount_ && walkDamaged_) return copyNotPossible(damagedAt(walkOffset_));
        piece.variableBitRate = head_.variableBitRate || bitRateVaries_;
    }
    piece.firstFrame = first;
    piece.frameCount = frameCount_;
    piece.reachedEnd = true;
    for (int64_t number = first; number <= std::min(last, frameCount_ - 1); ++number) {
        const uint8_t* bytes = nullptr;
        FrameHeader header;
        int64_t offset = 0;
        int64_t found = number;
        if (!frame(&found, &bytes, &header, &offset) || found != number)
            return copyNotPossible(damagedAt(nextOffset_));
        piece.frames.push_back(Frame{offset, uint16_t(header.size), uint16_t(mainDataBegin(bytes, header)),
                                     uint8_t(header.bitRateIndex)});
    }
    return piece;
}

}  // namespace clipwren::soundeditor::mp3
