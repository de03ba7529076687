#include "components/soundeditor/lossless/AacCut.h"

#include "components/decode/FfmpegError.h"
#include "components/decode/FfmpegHandles.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/files/LocalFileName.h"
#include "components/soundeditor/OutputContainer.h"

#include <QFile>
#include <algorithm>

extern "C" {
#include <libavformat/avformat.h>
}

namespace clipwren::soundeditor::aac {

namespace {

constexpr int kAacFrame = 1024;
// The seek lands on a packet at or before its target; this far back leaves room for the
// packet before the begin.
constexpr int64_t kSeekLead = 3 * kAacFrame;

// From the AudioSpecificConfig: audio object type 2 (LC), without an explicit SBR
// extension, whose frames would decode to twice the samples.
bool isPlainAacLc(const AVCodecParameters* codec) {
    const uint8_t* config = codec->extradata;
    if (codec->codec_id != AV_CODEC_ID_AAC || codec->extradata_size < 2 || (config[0] >> 3) != 2) return false;
    if (codec->extradata_size < 5) return true;
    const int syncExtension = (config[2] << 3) | (config[3] >> 5);
    const int extensionType = config[3] & 0x1F;
    const bool sbrPresent = config[4] & 0x80;
    return !(syncExtension == 0x2B7 && extensionType == 5 && sbrPresent);
}

}  // namespace

Failure writeAacCut(const QString& source, int64_t begin, int64_t end, const char* muxer, const SourceTags& tags,
                    PendingOutputFile& output, const CopyHooks& hooks) {
    AVFormatContext* rawInput = nullptr;
    const QByteArray url = files::ffmpegFileUrl(source);
    if (avformat_open_input(&rawInput, url.constData(), nullptr, nullptr) < 0)
        return copyNotPossible(QStringLiteral("the file cannot be read"));
    const decode::FormatContextPtr input(rawInput);
    const int index = av_find_best_stream(input.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return copyNotPossible(QStringLiteral("the file has no audio track"));
    const AVStream* track = input->streams[index];
    const AVCodecParameters* codec = track->codecpar;
    if (!isPlainAacLc(codec))
        return copyNotPossible(QStringLiteral("its audio is not AAC-LC"));
    if (track->time_base.num != 1 || track->time_base.den != codec->sample_rate)
        return copyNotPossible(QStringLiteral("its track is not timed in samples"));
    for (unsigned i = 0; i < input->nb_streams; ++i)
        if (int(i) != index) input->streams[i]->discard = AVDISCARD_ALL;
    // The decoded sound starts at the track's first timestamp, not at zero: a track that
    // starts late (an edit list with an empty first edit) has its first timestamp there.
    const int64_t origin = track->start_time != AV_NOPTS_VALUE ? track->start_time : 0;
    const int64_t piece = end - begin;
    begin += origin;
    end += origin;
    if (begin - kSeekLead > origin && av_seek_frame(input.get(), index, begin - kSeekLead, AVSEEK_FLAG_BACKWARD) < 0)
        return copyNotPossible(QStringLiteral("the track cannot be searched"));
    // A fragmented file leaves the first packet's duration unsaid; an AAC-LC frame holds
    // 1024 samples.
    const auto durationOf = [](const AVPacket* p) { return p->duration > 0 ? p->duration : int64_t(kAacFrame); };

    // Read up to the packet that holds the begin, keeping the one before it.
    const decode::PacketPtr packet(av_packet_alloc()), previous(av_packet_alloc());
    if (!packet || !previous) return Failure{err::NotEnoughMemory};
    for (;;) {
        if (av_read_frame(input.get(), packet.get()) < 0)
            return copyNotPossible(QStringLiteral("the track ends before the piece"));
        if (packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        if (packet->pts == AV_NOPTS_VALUE || packet->pts > begin)
            return copyNotPossible(QStringLiteral("the track's packets are not timed"));
        packet->duration = durationOf(packet.get());
        if (packet->pts + packet->duration > begin) break;
        av_packet_unref(previous.get());
        av_packet_move_ref(previous.get(), packet.get());
    }
    // FFmpeg's MP4 reader drops every sample of an edit that starts and ends inside one
    // packet other than at its start: such a copy would decode to nothing.
    if (begin > packet->pts && end < packet->pts + packet->duration)
        return copyNotPossible(QStringLiteral("the piece lies within one AAC frame"));

    int opened = 0;
    const OutputContainerPtr out = openOutputContainer(muxer, output, &opened);
    if (decode::logIfFailed(opened, muxer) < 0) return Failure{err::EncoderFailedToStart};
    AVStream* copy = avformat_new_stream(out.get(), nullptr);
    if (!copy || avcodec_parameters_copy(copy->codecpar, codec) < 0) return Failure{err::NotEnoughMemory};
    copy->codecpar->codec_tag = 0;
    copy->codecpar->frame_size = kAacFrame;
    copy->time_base = track->time_base;
    const int picture = addTags(out.get(), tags);
    AVDictionary* options = nullptr;
    av_dict_set_int(&options, "movie_timescale", codec->sample_rate, 0);
    int result = decode::logIfFailed(avformat_write_header(out.get(), &options), "starting the output");
    av_dict_free(&options);
    if (result >= 0) result = decode::logIfFailed(writeCover(out.get(), picture, tags), "writing the cover");
    if (result < 0) return Failure{err::FileCreationFailed};

    // Timestamps count from the begin: what lies before it goes into the edit list.
    auto put = [&](AVPacket* p, int64_t duration) {
        p->stream_index = copy->index;
        p->pts -= begin;
        p->dts -= begin;
        p->duration = duration;
        p->flags &= ~AV_PKT_FLAG_DISCARD;
        av_packet_free_side_data(p);
        av_packet_rescale_ts(p, track->time_base, copy->time_base);
        return decode::logIfFailed(av_interleaved_write_frame(out.get(), p), "writing audio");
    };
    if (previous->size > 0 && put(previous.get(), previous->duration) < 0)
        return Failure{err::FileCreationFailed};
    for (;;) {
        if (hooks.cancelled && hooks.cancelled()) return Failure{kCancelled};
        const int64_t start = packet->pts;
        const int64_t next = start + packet->duration;
        if (put(packet.get(), std::min(next, end) - start) < 0) return Failure{err::FileCreationFailed};
        if (hooks.progress) hooks.progress(std::min(next, end) - begin, piece);
        if (next >= end) break;
        do {
            av_packet_unref(packet.get());
            if (av_read_frame(input.get(), packet.get()) < 0)
                return copyNotPossible(QStringLiteral("the track ends before the piece"));
        } while (packet->stream_index != index);
        packet->duration = durationOf(packet.get());
        // A gap or an overlap would move everything after it.
        if (packet->pts != next)
            return copyNotPossible(QStringLiteral("the track's packets do not follow each other"));
    }
    if (decode::logIfFailed(av_write_trailer(out.get()), "finishing the output") < 0 ||
        decode::logIfFailed(flushOutputContainer(*out), "writing the output") < 0)
        return Failure{err::FileCreationFailed};
    return Failure{};
}

}  // namespace clipwren::soundeditor::aac
