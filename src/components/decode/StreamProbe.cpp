#include "components/decode/StreamProbe.h"

#include "components/decode/FrameReader.h"
#include "components/decode/InputFile.h"
#include "components/decode/StreamTimeline.h"
#include "components/errors/modSoundErrDesc.h"

#include <algorithm>

namespace clipwren::decode {

namespace {

// Decode or read errors tolerated before the first sample, so that a file whose first
// frames are broken still opens while a file of noise is refused after reading a few
// dozen packets rather than all of it.
constexpr int kMaxErrorsBeforeSound = 50;

// Tail probes start this many seconds before the container's end; each failed probe
// (nothing decodable after the seek) steps further back. The first must reach back past
// where a demuxer seek near the end lands (an Ogg page, an MP3 seek table entry) yet
// cost little: 4 s decode in a few milliseconds. 30 s and 240 s catch ends that a
// header overstates.
constexpr double kTailProbeBackoffSeconds[] = {4.0, 30.0, 240.0};

}  // namespace

int32_t findOrigin(InputFile& input, StreamTimeline& timeline) {
    const PacketPtr packet(av_packet_alloc());
    const FramePtr frame(av_frame_alloc());
    if (!packet || !frame) return err::NotEnoughMemory;
    bool firstPacket = true;
    int errorsBeforeSound = 0;
    for (;;) {
        int rc = avcodec_receive_frame(input.codec(), frame.get());
        if (rc == 0) {
            if (frame->nb_samples <= 0) continue;
            timeline.anchor(frame.get());
            return err::Ok;
        }
        if (rc == AVERROR_EOF) return err::InvalidSoundFile;
        if (rc != AVERROR(EAGAIN) && ++errorsBeforeSound > kMaxErrorsBeforeSound) return err::InvalidSoundFile;

        rc = av_read_frame(input.format(), packet.get());
        if (rc < 0) {
            avcodec_send_packet(input.codec(), nullptr);
            continue;
        }
        if (packet->stream_index == input.streamIndex()) {
            if (firstPacket) {
                const int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                timeline.setFirstPacketTimestamp(ts == AV_NOPTS_VALUE ? 0 : ts);
                firstPacket = false;
            }
            if (avcodec_send_packet(input.codec(), packet.get()) < 0 && ++errorsBeforeSound > kMaxErrorsBeforeSound) {
                av_packet_unref(packet.get());
                return err::InvalidSoundFile;
            }
        }
        av_packet_unref(packet.get());
    }
}

LengthProbe::LengthProbe(InputFile& input, const StreamTimeline& timeline, FrameReader& reader, int sourceRate,
                         int64_t prerollFrames)
    : input_(input), timeline_(timeline), reader_(reader), sourceRate_(sourceRate), prerollFrames_(prerollFrames) {}

// Rather than decoding the whole file, the probe seeks close to the container's end
// and decodes only the tail; the stream timestamps place that tail.
int32_t LengthProbe::run(ProbedLength* result) {
    const AVStream* stream = input_.stream();
    const bool byTimestamp = timeline_.seekMethod() == SeekMethod::ByTimestamp;
    // An estimate from the bit rate can be far off (VBR MP3 without a Xing header,
    // ADTS AAC): the packets are counted instead.
    const bool estimated = input_.format()->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE ||
                           stream->duration == AV_NOPTS_VALUE;
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    if (byTimestamp && probeTail(estimated ? scanPacketsEnd() : start + stream->duration, result)) return err::Ok;
    // A header promising more than the file holds (a truncated file): look for where
    // its packets really end.
    if (!estimated && byTimestamp && probeTail(scanPacketsEnd(), result)) return err::Ok;
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
        end = reader_.frameStart() + reader_.frame()->nb_samples;
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

// Timestamp just past the stream's last packet, found by reading the packets without
// decoding them.
int64_t LengthProbe::scanPacketsEnd() {
    int64_t endTs = AV_NOPTS_VALUE;
    if (!reader_.restart(0)) return endTs;
    const PacketPtr packet(av_packet_alloc());
    if (!packet) return endTs;
    while (av_read_frame(input_.format(), packet.get()) >= 0) {
        if (packet->stream_index == input_.streamIndex() && packet->pts != AV_NOPTS_VALUE)
            endTs = std::max(endTs, packet->pts + packet->duration);
        av_packet_unref(packet.get());
    }
    return endTs;
}

}  // namespace clipwren::decode
