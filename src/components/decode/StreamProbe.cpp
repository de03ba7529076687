#include "components/decode/StreamProbe.h"

#include "components/decode/FrameReader.h"
#include "components/decode/InputFile.h"
#include "components/decode/OggChains.h"
#include "components/decode/StreamTimeline.h"
#include "components/errors/modSoundErrDesc.h"

#include <QLatin1String>
#include <algorithm>
#include <optional>

namespace clipwren::decode {

namespace {

// Frames without a timestamp at the start (the first MP3 frame after junk, whose
// packet the demuxer could not time: one in the files tried) are counted up to the
// first one that has one; a stream still without timestamps after this many frames
// has none to seek by.
constexpr int kUntimedFramesBeforeCounting = 16;

// Tail probes start this many seconds before the container's end; each failed probe
// (nothing decodable after the seek) steps further back. The first must reach back past
// where a demuxer seek near the end lands (an Ogg page, an MP3 seek table entry) yet
// cost little: 4 s decode in a few milliseconds. 30 s and 240 s catch ends that a
// header overstates.
constexpr double kTailProbeBackoffSeconds[] = {4.0, 30.0, 240.0};

}  // namespace

int32_t findOrigin(InputFile& input, StreamTimeline& timeline, AVFrame* firstFrame) {
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    if (!packet || !frame) return err::NotEnoughMemory;
    bool firstPacket = true;
    int untimedFrames = 0;
    int64_t untimedSamples = 0;
    for (;;) {
        // Packets that do not decode (junk before the first frame) are skipped, as the
        // ffmpeg command line skips them.
        int rc = avcodec_receive_frame(input.codec(), frame.get());
        if (rc == 0) {
            if (frame->nb_samples <= 0 || frame->sample_rate <= 0) continue;
            if (untimedFrames == 0 && av_frame_ref(firstFrame, frame.get()) < 0) return err::NotEnoughMemory;
            if (StreamTimeline::hasTimestamp(frame.get())) {
                timeline.anchor(frame.get(), untimedSamples);
                return err::Ok;
            }
            untimedSamples += frame->nb_samples;
            if (++untimedFrames == kUntimedFramesBeforeCounting) {
                timeline.anchorUntimed(firstFrame);
                return err::Ok;
            }
            continue;
        }
        if (rc == AVERROR_EOF) {
            if (untimedFrames == 0) return err::InvalidSoundFile;
            timeline.anchorUntimed(firstFrame);
            return err::Ok;
        }
        rc = input.readPacket(packet.get());
        if (rc < 0) {
            input.sendPacket(nullptr);
            continue;
        }
        if (packet->stream_index == input.streamIndex()) {
            if (firstPacket) {
                const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                timeline.setFirstPacketTimestamp(ts == AV_NOPTS_VALUE ? 0 : ts);
                firstPacket = false;
            }
            input.sendPacket(packet.get());
        }
        av_packet_unref(packet.get());
    }
}

LengthProbe::LengthProbe(InputFile& input, StreamTimeline& timeline, FrameReader& reader, int sourceRate,
                         int64_t prerollFrames)
    : input_(input), timeline_(timeline), reader_(reader), sourceRate_(sourceRate), prerollFrames_(prerollFrames) {}

// Rather than decoding the whole file, the probe seeks close to the container's end
// and decodes only the tail; the stream timestamps place that tail.
int32_t LengthProbe::run(ProbedLength* result) {
    const AVStream* stream = input_.stream();
    std::optional<int64_t> packetsEnd;
    auto scannedEnd = [&] {
        if (!packetsEnd) packetsEnd = scanPacketsEnd();
        return *packetsEnd;
    };
    // Chained Ogg streams each count their timestamps from their own start.
    if (input_.containerName() == QLatin1String("ogg") && hasChainedOggStreams(input_.url()))
        timeline_.markDiscontinuous();
    auto byTimestamp = [&] { return timeline_.seekMethod() == SeekMethod::ByTimestamp; };
    // An estimate from the bit rate can be far off (VBR MP3 without a Xing header,
    // ADTS AAC): the packets are counted instead.
    const bool estimated = input_.format()->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE ||
                           stream->duration == AV_NOPTS_VALUE;
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    // A tail that met a jump in the timestamps cannot be placed by them.
    if (byTimestamp() && probeTail(estimated ? scannedEnd() : start + stream->duration, result) && byTimestamp())
        return err::Ok;
    // A header promising more than the file holds (a truncated file): look for where
    // its packets really end.
    if (!estimated && byTimestamp() && probeTail(scannedEnd(), result) && byTimestamp()) return err::Ok;
    // Short or without usable timestamps: decode it all.
    if (!decodeToEndFrom(0, result) || result->frames <= 0) return err::InvalidSoundFile;
    return err::Ok;
}

// Decodes the last seconds before endTimestamp, stepping further back while nothing
// decodable is found there. True when the length is known.
bool LengthProbe::probeTail(int64_t endTimestamp, ProbedLength* result) {
    if (endTimestamp == AV_NOPTS_VALUE || endTimestamp <= timeline_.originTimestamp()) return false;
    const int64_t claimed = timeline_.framesUntil(endTimestamp);
    for (double backoff : kTailProbeBackoffSeconds) {
        const int64_t from = claimed - int64_t(backoff * sourceRate_) - prerollFrames_;
        if (from <= 0) return false;
        ProbedLength tail;
        if (decodeToEndFrom(from, &tail) && tail.frames > from) {
            *result = tail;
            return true;
        }
    }
    return false;
}

// Decodes from a seek before `seekSourceFrame` to the end; the result is the source
// index just past the last sample, the first frame placed by its timestamp.
bool LengthProbe::decodeToEndFrom(int64_t seekSourceFrame, ProbedLength* result) {
    if (!reader_.restart(seekSourceFrame)) return false;
    int64_t end = -1;
    while (reader_.next()) {
        end = reader_.frameStart() + reader_.frameSpan();
        reader_.release();
    }
    if (end < 0) return false;
    // Landing on the very last packet says nothing about where the stream ends.
    if (seekSourceFrame > 0 && reader_.landingPosition() >= 0 &&
        reader_.landingPosition() == reader_.lastPacketPosition())
        return false;
    result->frames = end;
    result->lastPacketPosition = reader_.lastPacketPosition();
    return true;
}

// Reads the packets without decoding them: the timestamp just past the last one. A
// timestamp that goes back on the way marks the timeline as one not to seek by.
int64_t LengthProbe::scanPacketsEnd() {
    int64_t end = AV_NOPTS_VALUE;
    const PacketPtr packet(av_packet_alloc());
    if (!packet || !reader_.restart(0)) return end;
    int64_t previous = AV_NOPTS_VALUE;
    while (input_.readPacket(packet.get()) >= 0) {
        if (packet->stream_index == input_.streamIndex() && packet->pts != AV_NOPTS_VALUE) {
            const int64_t duration = timeline_.plausibleDuration(packet->duration) ? packet->duration : 0;
            end = std::max(end, packet->pts + duration);
            if (previous != AV_NOPTS_VALUE && packet->pts < previous) timeline_.markDiscontinuous();
            previous = packet->pts;
        }
        av_packet_unref(packet.get());
    }
    return end;
}

}  // namespace clipwren::decode
