#include "components/soundeditor/lossless/Mp3Cut.h"

#include "components/errors/modSoundErrDesc.h"
#include "components/files/LocalFileName.h"
#include "components/soundeditor/lossless/Mp3GlobalGain.h"
#include "components/soundeditor/lossless/Mp3InfoFrame.h"

#include <QFile>
#include <algorithm>
#include <functional>

namespace clipwren::soundeditor::mp3 {

namespace {

constexpr int64_t kGranule = 576;
// A granule's output depends on its own coefficients and those of the two granules
// before it: the overlap-add of the transform reaches one back, and the synthesis
// filter's history (15 of a granule's 18 subband slots) one more.
constexpr int64_t kLeadGranules = 2;
constexpr int kMaxTrim = 4095;  // 12-bit fields
// FFmpeg's MP3 probe is sure of a file (score 51) that starts with this many frames in
// a row; with fewer it scores 25 or less and ties with other formats (a 6-frame copy
// ties with H.263), and the file does not open.
constexpr int kFramesTheProbeIsSureOf = 7;
// Read and written in pieces of this size: a copy holds no more than one piece in
// memory, and an hour of 128 kbit/s MP3 (58 MB) takes some 220 reads.
constexpr int64_t kCopyChunk = 256 * 1024;

// Reads bytes [offset, offset + length) of `in` in chunks and hands each to `take`.
// False when reading fails, `take` refuses a chunk or the copy is cancelled (*cancelled).
bool readRange(QFile& in, int64_t offset, int64_t length, const CopyHooks& hooks, bool* cancelled,
               const std::function<bool(const QByteArray&)>& take) {
    if (!in.seek(offset)) return false;
    QByteArray chunk;
    while (length > 0) {
        if (hooks.cancelled && hooks.cancelled()) {
            *cancelled = true;
            return false;
        }
        chunk = in.read(std::min(length, kCopyChunk));
        if (chunk.isEmpty() || !take(chunk)) return false;
        length -= chunk.size();
    }
    return true;
}

// Reads the planned copied frames in chunks of whole frames, each frame with the plan's
// gain, and hands each chunk to `take`. False as readRange, or when a frame's gain
// cannot move that far (*outOfRange).
bool readCopiedFrames(QFile& in, const Mp3Index& index, const Mp3CutPlan& plan, const CopyHooks& hooks,
                      bool* cancelled, bool* outOfRange, const std::function<bool(const QByteArray&)>& take) {
    for (size_t from = plan.firstFrame; from <= plan.lastFrame;) {
        size_t to = from + 1;  // frames [from, to) make the chunk
        while (to <= plan.lastFrame && index.frames[to].offset + index.frames[to].size - index.frames[from].offset <=
                                           kCopyChunk)
            ++to;
        const int64_t begin = index.frames[from].offset;
        const int64_t length = index.frames[to - 1].offset + index.frames[to - 1].size - begin;
        QByteArray chunk;
        if (!readRange(in, begin, length, hooks, cancelled, [&chunk](const QByteArray& read) {
                chunk += read;
                return true;
            }))
            return false;
        if (plan.gainSteps != 0) {
            auto* bytes = reinterpret_cast<uint8_t*>(chunk.data());
            for (size_t k = from; k < to; ++k) {
                uint8_t* frame = bytes + (index.frames[k].offset - begin);
                const std::optional<FrameHeader> header = parseFrameHeader(frame);
                if (!header || !addGlobalGain(frame, index.frames[k].size, *header, plan.gainSteps)) {
                    *outOfRange = true;
                    return false;
                }
            }
        }
        if (!take(chunk)) return false;
        from = to;
    }
    return true;
}

QByteArray readAt(QFile& in, int64_t offset, int64_t length) {
    return in.seek(offset) ? in.read(length) : QByteArray();
}

// The header of a frame read from the file; nullopt when too little was read.
std::optional<FrameHeader> headerOf(const QByteArray& frame) {
    return frame.size() >= 4 ? parseFrameHeader(reinterpret_cast<const uint8_t*>(frame.constData())) : std::nullopt;
}

// The main data at the end of the frames before `first` that frame `first` starts with.
std::optional<QByteArray> reservoirBefore(QFile& in, const Mp3Index& index, size_t first) {
    const int needed = index.frames[first].mainDataBegin;
    QByteArray reservoir;
    for (size_t k = first; k-- > 0 && reservoir.size() < needed;) {
        const QByteArray frame = readAt(in, index.frames[k].offset, index.frames[k].size);
        const std::optional<FrameHeader> header = headerOf(frame);
        if (!header || frame.size() != header->size) return std::nullopt;
        reservoir.prepend(frame.mid(header->mainDataOffset()));
    }
    if (reservoir.size() < needed) return std::nullopt;
    return reservoir.right(needed);
}

// One frame that codes silence (its side info all zero: no bits for any granule) and
// holds the reservoir bytes at the end of its main data, where the next frame looks.
// Its header is the next frame's at another rate: FFmpeg takes a frame whose channel
// mode or flags differ from the next one's for junk before the stream.
std::optional<QByteArray> leadFrame(const FrameHeader& next, const QByteArray& reservoir, bool constantBitRate) {
    const int needed = 4 + next.sideInfoSize() + int(reservoir.size());
    // A constant-rate stream keeps its rate when the reservoir fits.
    FrameHeader header = ownFrameHeader(next, needed, constantBitRate ? next.bitRateIndex : 1);
    if (!header.bitRateIndex) header = ownFrameHeader(next, needed);
    if (!header.bitRateIndex) return std::nullopt;
    QByteArray frame(header.size, '\0');
    std::copy(header.bytes, header.bytes + 4, frame.data());
    std::copy(reservoir.begin(), reservoir.end(), frame.end() - reservoir.size());
    return frame;
}

}  // namespace

Result<Mp3CutPlan> planMp3Cut(const Mp3Index& index, int64_t begin, int64_t end) {
    const int64_t perFrame = index.stream.samplesPerFrame();
    // Positions in the decoder's raw output, counted from the first audio frame.
    const int64_t rawBegin = begin + index.decoderSkip();
    const int64_t rawEnd = end + index.decoderSkip();
    if (begin < 0 || end <= begin) return copyNotPossible(QStringLiteral("the piece is empty"));
    const int64_t first = std::max<int64_t>(0, (rawBegin / kGranule - kLeadGranules) * kGranule / perFrame);
    const int64_t last = (rawEnd - 1) / perFrame;
    // Frame numbers of the stream; index.frames holds those from index.firstFrame on.
    if (last >= index.firstFrame + int64_t(index.frames.size()))
        return copyNotPossible(QStringLiteral("the stream ends before the piece"));
    if (first < index.firstFrame) return copyNotPossible(QStringLiteral("the frames before the piece are not indexed"));
    // FFmpeg applies the start trim across frames but loses what is left of it when the
    // frame with the end trim comes: the two must not meet in one frame.
    if (rawBegin / perFrame == last && rawEnd != (last + 1) * perFrame)
        return copyNotPossible(QStringLiteral("the piece lies within one MP3 frame"));
    if (first == 0 && index.frames[0].mainDataBegin > 0)
        return copyNotPossible(QStringLiteral("the first frame refers to data before the stream"));
    Mp3CutPlan plan;
    plan.firstFrame = size_t(first - index.firstFrame);
    plan.lastFrame = size_t(last - index.firstFrame);
    // The lead frame and the copied frames before the begin are dropped, less what the
    // decoder's own delay already drops; the rest of the last frame is the padding.
    plan.encoderDelay = int(rawBegin - (first - 1) * perFrame - kDecoderDelay);
    plan.padding = int((last + 1) * perFrame - rawEnd + kDecoderDelay);
    // The header frame, the lead frame and the copies; silence makes up the rest, after
    // the piece as far as the padding field holds it, then before.
    int missing = std::max(0, kFramesTheProbeIsSureOf - int(2 + last - first + 1));
    plan.silentAfter = std::clamp(int((kMaxTrim - plan.padding) / perFrame), 0, missing);
    plan.silentBefore = missing - plan.silentAfter;
    plan.padding += int(plan.silentAfter * perFrame);
    plan.encoderDelay += int(plan.silentBefore * perFrame);
    if (plan.encoderDelay > kMaxTrim || plan.padding > kMaxTrim)
        return copyNotPossible(QStringLiteral("the trim does not fit the LAME tag"));
    return plan;
}

Failure writeMp3Cut(const QString& source, const Mp3Index& index, const Mp3CutPlan& plan, const TagFields& pieceTags,
                    PendingOutputFile& output, const CopyHooks& hooks) {
    QFile in;
    if (!files::openLocalFile(in, source, QIODevice::ReadOnly))
        return copyNotPossible(QStringLiteral("the file cannot be read"));
    const Frame& first = index.frames[plan.firstFrame];
    const Frame& last = index.frames[plan.lastFrame];
    const bool constantBitRate =
        std::all_of(&first, &last + 1, [&first](const Frame& f) { return f.bitRateIndex == first.bitRateIndex; });
    const std::optional<FrameHeader> firstHeader = headerOf(readAt(in, first.offset, 4));
    const std::optional<QByteArray> reservoir = reservoirBefore(in, index, plan.firstFrame);
    const std::optional<QByteArray> lead =
        firstHeader && reservoir ? leadFrame(*firstHeader, *reservoir, constantBitRate) : std::nullopt;
    if (!lead) return copyNotPossible(QStringLiteral("the first frame's reservoir data is not in the file"));

    const QByteArray silence = *leadFrame(*firstHeader, QByteArray(), constantBitRate);
    const QByteArray silenceBefore = silence.repeated(plan.silentBefore);
    const QByteArray silenceAfter = silence.repeated(plan.silentAfter);
    const int64_t copiedBytes = last.offset + last.size - first.offset;
    const FrameHeader infoHeader = infoFrameHeader(*firstHeader, constantBitRate);
    InfoFrameFields fields;
    const size_t copiedFrames = plan.lastFrame - plan.firstFrame + 1;
    fields.constantBitRate = constantBitRate;
    fields.frames = uint32_t(plan.silentBefore + 1 + copiedFrames + plan.silentAfter);
    fields.bytes = uint32_t(infoHeader.size + silenceBefore.size() + lead->size() + copiedBytes + silenceAfter.size());
    // Where an output frame starts: the header frame, silence, the lead frame, the copies,
    // silence.
    const int64_t leadAt = infoHeader.size + silenceBefore.size();
    auto outputOffset = [&](size_t frame) -> int64_t {
        if (frame < size_t(plan.silentBefore)) return infoHeader.size + int64_t(frame) * silence.size();
        frame -= plan.silentBefore;
        if (frame == 0) return leadAt;
        if (frame <= copiedFrames)
            return leadAt + lead->size() + index.frames[plan.firstFrame + frame - 1].offset - first.offset;
        return leadAt + lead->size() + copiedBytes + int64_t(frame - copiedFrames - 1) * silence.size();
    };
    for (size_t i = 0; i < fields.toc.size(); ++i)
        fields.toc[i] = uint8_t(std::min<int64_t>(255, outputOffset(i * fields.frames / fields.toc.size()) * 256 /
                                                           *fields.bytes));
    fields.quality = index.quality;
    fields.encoderDelay = plan.encoderDelay;
    fields.padding = plan.padding;
    if (index.lame.trusted) fields.sourceLame = index.lame.fields;

    // The Info frame stands before the music its checksum covers, and a pipe cannot be
    // gone back over: the checksum is taken in a pass of its own, before writing.
    bool cancelled = false;
    bool outOfRange = false;
    uint16_t musicCrc = crc16(silenceBefore.constData(), silenceBefore.size());
    musicCrc = crc16(lead->constData(), lead->size(), musicCrc);
    const auto addToCrc = [&musicCrc](const QByteArray& chunk) {
        musicCrc = crc16(chunk.constData(), chunk.size(), musicCrc);
        return true;
    };
    const bool summed = readCopiedFrames(in, index, plan, hooks, &cancelled, &outOfRange, addToCrc);
    if (cancelled) return Failure{kCancelled};
    if (outOfRange) return copyNotPossible(QStringLiteral("a frame's global gain cannot move that far"));
    if (!summed) return copyNotPossible(QStringLiteral("the file cannot be read"));
    fields.musicCrc = crc16(silenceAfter.constData(), silenceAfter.size(), musicCrc);

    const QByteArray tail = readAt(in, in.size() - kId3v1Size, kId3v1Size);
    const bool id3v1 = pieceTags.empty() && in.size() >= kId3v1Size && tail.startsWith("TAG");
    const QByteArray head = readAt(in, 0, index.id3v2Size);
    const QByteArray tags = pieceTags.empty() ? id3v2WithoutLength(head) : id3v2Replacing(head, pieceTags);
    const auto put = [&output](const QByteArray& bytes) { return output.write(bytes.constData(), bytes.size()); };
    int64_t done = 0;
    const auto copyFrames = [&](const QByteArray& chunk) {
        if (!put(chunk)) return false;
        done += chunk.size();
        if (hooks.progress) hooks.progress(done, copiedBytes);
        return true;
    };
    const bool written = head.size() == index.id3v2Size && put(tags) && put(buildInfoFrame(infoHeader, fields)) &&
                         put(silenceBefore) && put(*lead) &&
                         readCopiedFrames(in, index, plan, hooks, &cancelled, &outOfRange, copyFrames) &&
                         put(silenceAfter) && (!id3v1 || put(tail));
    if (cancelled) return Failure{kCancelled};
    return written ? Failure{} : Failure{err::FileCreationFailed};
}

Failure copyMp3(const QString& source, const Mp3Index& index, int64_t begin, int64_t end, const TagFields& tags,
                int gainSteps, PendingOutputFile& output, const CopyHooks& hooks) {
    Result<Mp3CutPlan> plan = planMp3Cut(index, begin, end);
    if (!plan) return plan.failure();
    plan->gainSteps = gainSteps;
    return writeMp3Cut(source, index, *plan, tags, output, hooks);
}

Failure settingsDiffer(const Mp3Index& index, int sampleRate, int channels, int64_t bitRate) {
    if (sampleRate != index.stream.sampleRate || channels != index.stream.channels())
        return copyNotPossible(QStringLiteral("the output's sample rate or channels are not the source's"));
    if (index.constantBitRate() && bitRate != index.stream.bitRate)
        return copyNotPossible(
            QStringLiteral("the output's bit rate is not the source's %1 kbit/s").arg(index.stream.bitRate / 1000));
    return {};
}

std::optional<int64_t> decodedLength(const Mp3Index& index) {
    const int64_t frames = index.frameCount;
    if (!index.reachedEnd || (index.lame.trusted && index.headerFrameCount != frames)) return std::nullopt;
    int64_t rawEnd = frames * index.stream.samplesPerFrame();
    // FFmpeg trims what padding lies beyond its own decoder delay.
    if (index.lame.trusted) rawEnd -= std::max(0, index.lame.padding - kDecoderDelay);
    return std::max<int64_t>(0, rawEnd - index.decoderSkip());
}

}  // namespace clipwren::soundeditor::mp3
