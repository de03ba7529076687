#include "components/decode/AudioDecoder.h"

#include "components/decode/FfmpegError.h"
#include "components/decode/FfmpegHandles.h"
#include "components/errors/modSoundErrDesc.h"

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
}

namespace clipwren::decode {

namespace {

// How far before a seek target decoding starts so that codecs with a bit reservoir
// or overlapping transforms (MP3, AAC, Vorbis, Opus) have settled by the target.
int64_t decoderPrerollFrames(const AVCodecParameters* par) {
    const AVCodecDescriptor* desc = avcodec_descriptor_get(par->codec_id);
    if (desc && (desc->props & AV_CODEC_PROP_LOSSLESS) && !(desc->props & AV_CODEC_PROP_LOSSY)) return 0;
    switch (par->codec_id) {
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
        // At low bit rates a frame's main data can start several frames back.
        return 29 * int64_t(par->frame_size > 0 ? par->frame_size : 1152);
    default:
        return std::max<int64_t>(8192, par->sample_rate / 5);
    }
}

// Source frames of history the resampler needs before its output equals a continuous run.
constexpr int64_t kResamplerPrerollSourceFrames = 256;

// Tail probes start this many seconds before the container's end; each failed
// probe (nothing decodable after the seek) steps further back.
constexpr double kTailProbeBackoffSeconds[] = {4.0, 30.0, 240.0};

// Decode errors tolerated after a seek before the first frame comes out.
constexpr int kMaxPrerollErrors = 32;

bool isDamageError(int rc) { return rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_EOF; }

}  // namespace

int logIfFailed(int result, const char* what) {
    if (result < 0) qWarning("%s: %s", what, qPrintable(ffmpegErrorText(result)));
    return result;
}

struct AudioDecoder::Impl {
    QString path;
    SourceInfo source;
    int outRate = 0;
    int outChannels = 0;
    int64_t outLength = 0;

    FormatContextPtr format;
    CodecContextPtr codec;
    PacketPtr packet;
    FramePtr frame;
    SwrContextPtr swr;
    int resamplerInputFormat = AV_SAMPLE_FMT_NONE;
    int streamIndex = -1;
    AVStream* stream = nullptr;

    // Timestamp (stream time base) of the first sample a decode from the start yields.
    int64_t originPts = 0;
    // Timestamp the demuxer is sent to for a restart from the beginning.
    int64_t startSeekTs = 0;
    // The stream's ticks are longer than a sample (ASF's milliseconds): positions
    // are snapped to the codec's fixed frame length, which is then required.
    bool coarseTimestamps = false;
    int fixedFrameLength = 0;
    int64_t prerollFrames = 0;
    // The container's timestamps after a seek only estimate the position, so seeks
    // decode and count from the start.
    bool seekByCounting = false;

    // Source side: the decoded frame being consumed and where it lies.
    bool frameValid = false;
    int64_t frameStart = 0;     // source frame index of frame's first sample
    int64_t sourceNext = 0;     // source index the next decoded sample is expected at
    bool placeNextFrame = false;  // the next decoded frame is placed by its timestamp
    int64_t fallbackPlacement = AV_NOPTS_VALUE;  // where it goes when it has none
    bool oddFrameSeen = false;
    int64_t landingPos = -1;      // file position of the first packet after a seek
    int64_t lastSentPos = -1;     // file position of the last packet decoded
    // Position of the stream's last packet. Ogg derives a page's timestamps from its
    // end granule, which on the last page is cut by the end trimming: a seek must not
    // land there.
    int64_t lastPacketPos = -1;
    int64_t sourceSkipTo = 0;   // source samples before this are dropped (after a seek)
    bool demuxerEnded = false;
    bool decoderDrained = false;
    bool damaged = false;
    int prerollErrors = 0;

    // Output side.
    int64_t outPos = 0;           // output index of the next frame read() returns
    int64_t discardOut = 0;       // converted frames still to drop before outPos
    bool resamplerFlushed = false;
    std::vector<float> pending;   // converted frames not yet handed out, starting at outPos
    size_t pendingOffset = 0;     // in frames

    int32_t openFile();
    int32_t openStream();
    void selectStream();
    int32_t openCodec();
    int32_t findOrigin();
    int32_t computeLength();
    int64_t scanPacketsEnd();
    bool probeTail(int64_t endTs);
    int64_t decodeToEndFrom(int64_t seekSourceFrame, bool* ok);
    int32_t configureResampler(const AVFrame* f);
    bool frameMatchesStream(const AVFrame* f) const;

    bool seekDemuxer(int64_t sourceFrame);
    int32_t restartSource(int64_t sourceFrame);
    int32_t restartOutput(int64_t outFrame);
    // Decodes the next frame into `frame`; false at the end of the stream or at damage.
    bool decodeNextFrame();
    int64_t placeFrame(const AVFrame* f) const;
    bool framePts(const AVFrame* f, int64_t* pts) const;
    bool fillPending();
    int feedResampler(const uint8_t* const* in, int inFrames);

    int64_t sourceToOutput(int64_t sourceFrames) const;
};

// ---------------------------------------------------------------------------------
// Opening and probing

int32_t AudioDecoder::Impl::openFile() {
    AVFormatContext* raw = nullptr;
    // Always through the file protocol, so a name such as "pipe:0" or "concat:..." is a file.
    const QByteArray url = "file:" + QFile::encodeName(QFileInfo(path).absoluteFilePath());
    if (logIfFailed(avformat_open_input(&raw, url.constData(), nullptr, nullptr), "opening a sound file") < 0)
        return err::InvalidSoundFile;
    format.reset(raw);
    if (logIfFailed(avformat_find_stream_info(format.get(), nullptr), "reading a sound file's streams") < 0)
        return err::InvalidSoundFile;
    return err::Ok;
}

int32_t AudioDecoder::Impl::openStream() {
    const AVCodec* decoder = nullptr;
    streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || !decoder) return err::InvalidSoundFile;
    selectStream();

    const int32_t rc = openCodec();
    if (rc != err::Ok) return rc;
    if (codec->sample_rate <= 0 || codec->ch_layout.nb_channels <= 0) return err::InvalidSoundFile;

    packet.reset(av_packet_alloc());
    frame.reset(av_frame_alloc());
    if (!packet || !frame) return err::NotEnoughMemory;

    source.sampleRate = codec->sample_rate;
    source.channels = codec->ch_layout.nb_channels;
    source.codecName = QString::fromLatin1(decoder->name);
    source.containerName = QString::fromLatin1(format->iformat->name);
    prerollFrames = decoderPrerollFrames(stream->codecpar);
    coarseTimestamps = int64_t(stream->time_base.num) * source.sampleRate > stream->time_base.den;
    // WAV-like containers derive a seek's timestamp from the byte rate, exact only for
    // plain PCM (ADPCM and other block codecs store a rounded byte rate).
    const QString container = source.containerName;
    seekByCounting = av_get_exact_bits_per_sample(stream->codecpar->codec_id) == 0 &&
                     (container == "wav" || container == "w64" || container == "aiff");
    return err::Ok;
}

// The demuxer reads only the chosen stream's packets.
void AudioDecoder::Impl::selectStream() {
    stream = format->streams[streamIndex];
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != streamIndex) format->streams[i]->discard = AVDISCARD_ALL;
}

// A fresh decoder rather than a flushed one: some decoders keep state across a flush
// (the AAC decoder's noise generator), and a restart from the beginning should give
// exactly what a first decode gives.
int32_t AudioDecoder::Impl::openCodec() {
    const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!decoder) return err::InvalidSoundFile;
    codec.reset(avcodec_alloc_context3(decoder));
    if (!codec) return err::NotEnoughMemory;
    if (logIfFailed(avcodec_parameters_to_context(codec.get(), stream->codecpar), "setting up the decoder") < 0)
        return err::InvalidSoundFile;
    codec->pkt_timebase = stream->time_base;
    return logIfFailed(avcodec_open2(codec.get(), decoder, nullptr), "opening the decoder") < 0 ? err::InvalidSoundFile
                                                                                                : err::Ok;
}

bool AudioDecoder::Impl::framePts(const AVFrame* f, int64_t* pts) const {
    int64_t value = f->pts != AV_NOPTS_VALUE ? f->pts : f->best_effort_timestamp;
    if (value == AV_NOPTS_VALUE) return false;
    *pts = value;
    return true;
}

// Where a decoded frame's first sample lies, in source frames from the start.
int64_t AudioDecoder::Impl::placeFrame(const AVFrame* f) const {
    int64_t pts = 0;
    if (!framePts(f, &pts)) return AV_NOPTS_VALUE;
    // Vorbis timestamps come from granule positions, which mark where a packet's audio
    // ends; at a change of block size the decoded frame is longer or shorter than the
    // packet's duration, so its start is found from that end.
    if (codec->codec_id == AV_CODEC_ID_VORBIS && f->pkt_duration > 0)
        pts += f->pkt_duration - av_rescale_q(f->nb_samples, AVRational{1, source.sampleRate}, stream->time_base);
    const int64_t samples =
        av_rescale_q_rnd(pts - originPts, stream->time_base, AVRational{1, source.sampleRate},
                         AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    if (!coarseTimestamps) return samples;
    if (fixedFrameLength <= 0) return AV_NOPTS_VALUE;
    return int64_t(std::llround(double(samples) / fixedFrameLength)) * fixedFrameLength;
}

// Decodes from the beginning up to the first sample: its timestamp anchors every
// later position, and a file that yields no sample at all is not decodable audio.
int32_t AudioDecoder::Impl::findOrigin() {
    bool firstPacket = true;
    int errorsBeforeSound = 0;
    for (;;) {
        int rc = avcodec_receive_frame(codec.get(), frame.get());
        if (rc == 0) {
            if (frame->nb_samples <= 0) continue;
            int64_t pts = 0;
            const bool timed = framePts(frame.get(), &pts);
            originPts = timed ? pts : 0;
            if (!timed) seekByCounting = true;  // no timestamps to seek by
            fixedFrameLength = frame->nb_samples;
            av_frame_unref(frame.get());
            return err::Ok;
        }
        if (rc == AVERROR_EOF) return err::InvalidSoundFile;
        if (rc != AVERROR(EAGAIN) && ++errorsBeforeSound > 50) return err::InvalidSoundFile;

        rc = av_read_frame(format.get(), packet.get());
        if (rc < 0) {
            avcodec_send_packet(codec.get(), nullptr);
            continue;
        }
        if (packet->stream_index == streamIndex) {
            if (firstPacket) {
                startSeekTs = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                if (startSeekTs == AV_NOPTS_VALUE) startSeekTs = 0;
                firstPacket = false;
            }
            if (avcodec_send_packet(codec.get(), packet.get()) < 0 && ++errorsBeforeSound > 50) {
                av_packet_unref(packet.get());
                return err::InvalidSoundFile;
            }
        }
        av_packet_unref(packet.get());
    }
}

bool AudioDecoder::Impl::seekDemuxer(int64_t sourceFrame) {
    int64_t target = startSeekTs;
    if (sourceFrame > 0)
        target = originPts + av_rescale_q(sourceFrame, AVRational{1, source.sampleRate}, stream->time_base);
    if (target <= startSeekTs) target = startSeekTs;
    const int sought = av_seek_frame(format.get(), streamIndex, target, AVSEEK_FLAG_BACKWARD);
    if (logIfFailed(sought, "seeking in a sound file") < 0) {
        if (target != startSeekTs) return false;
        // Some demuxers refuse even a seek to their first packet: reopen instead.
        format.reset();
        if (openFile() != err::Ok || streamIndex >= int(format->nb_streams)) return false;
        selectStream();
    }
    if (openCodec() != err::Ok) return false;
    av_frame_unref(frame.get());
    frameValid = false;
    oddFrameSeen = false;
    landingPos = -1;
    prerollErrors = 0;
    // Placed by timestamp even at the start, so a decoder that skips its delay
    // differently after a flush still lines up; without one the start is frame 0.
    placeNextFrame = true;
    fallbackPlacement = sourceFrame <= 0 ? 0 : AV_NOPTS_VALUE;
    demuxerEnded = false;
    decoderDrained = false;
    damaged = false;
    return true;
}

// Decodes from a seek before `seekSourceFrame` to the end and returns the source index
// just past the last sample, placing the first frame by its timestamp.
int64_t AudioDecoder::Impl::decodeToEndFrom(int64_t seekSourceFrame, bool* ok) {
    *ok = false;
    if (!seekDemuxer(seekSourceFrame)) return 0;
    int64_t end = -1;
    while (decodeNextFrame()) {
        end = frameStart + frame->nb_samples;
        av_frame_unref(frame.get());
        frameValid = false;
    }
    if (end < 0) return 0;
    if (seekSourceFrame > 0 && landingPos >= 0 && landingPos == lastSentPos) return 0;
    lastPacketPos = lastSentPos;
    *ok = true;
    return end;
}

// Timestamp just past the stream's last packet, found by reading the packets
// without decoding them.
int64_t AudioDecoder::Impl::scanPacketsEnd() {
    int64_t endTs = AV_NOPTS_VALUE;
    if (!seekDemuxer(0)) return endTs;
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == streamIndex && packet->pts != AV_NOPTS_VALUE)
            endTs = std::max(endTs, packet->pts + packet->duration);
        av_packet_unref(packet.get());
    }
    return endTs;
}

// Decodes the last seconds before endTs, stepping further back while nothing
// decodable is found there. True when the length is known.
bool AudioDecoder::Impl::probeTail(int64_t endTs) {
    if (endTs == AV_NOPTS_VALUE || endTs <= originPts) return false;
    const int64_t claimed = av_rescale_q(endTs - originPts, stream->time_base, AVRational{1, source.sampleRate});
    for (double backoff : kTailProbeBackoffSeconds) {
        const int64_t from = claimed - int64_t(backoff * source.sampleRate) - prerollFrames;
        if (from <= 0) return false;
        bool ok = false;
        const int64_t end = decodeToEndFrom(from, &ok);
        if (ok && end > from) {
            source.lengthFrames = end;
            return true;
        }
    }
    return false;
}

// The exact length is where a continuous decode ends. Rather than decoding the whole
// file, the decoder seeks close to the container's end and decodes only the tail;
// the stream timestamps place that tail.
int32_t AudioDecoder::Impl::computeLength() {
    // An estimate from the bit rate can be far off (VBR MP3 without a Xing header,
    // ADTS AAC): the packets are counted instead.
    const bool estimated =
        format->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE || stream->duration == AV_NOPTS_VALUE;
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    if (!seekByCounting && probeTail(estimated ? scanPacketsEnd() : start + stream->duration)) return err::Ok;
    // A header promising more than the file holds (a truncated file): look for where
    // its packets really end.
    if (!estimated && !seekByCounting && probeTail(scanPacketsEnd())) return err::Ok;
    // Short or without usable timestamps: decode it all.
    bool ok = false;
    const int64_t end = decodeToEndFrom(0, &ok);
    if (!ok || end <= 0) return err::InvalidSoundFile;
    source.lengthFrames = end;
    return err::Ok;
}

// ---------------------------------------------------------------------------------
// Decoding

bool AudioDecoder::Impl::decodeNextFrame() {
    if (damaged || decoderDrained) return false;
    for (;;) {
        int rc = avcodec_receive_frame(codec.get(), frame.get());
        if (rc == 0) {
            if (frame->nb_samples <= 0) {
                av_frame_unref(frame.get());
                continue;
            }
            // A short frame is expected only last; one followed by more frames means the
            // frame length varies and coarse timestamps cannot place frames exactly.
            if (oddFrameSeen) fixedFrameLength = 0;
            oddFrameSeen = fixedFrameLength > 0 && frame->nb_samples != fixedFrameLength;
            int64_t placed = placeFrame(frame.get());
            if (placeNextFrame) {
                if (placed == AV_NOPTS_VALUE) placed = fallbackPlacement;
                if (placed == AV_NOPTS_VALUE) {
                    damaged = true;  // caller falls back to counting from the start
                    av_frame_unref(frame.get());
                    return false;
                }
                sourceNext = placed;
                placeNextFrame = false;
            } else if (placed != AV_NOPTS_VALUE) {
                // A jump in the timestamps means lost data (a damaged page or frame):
                // the sound ends there rather than continuing displaced in time.
                const int64_t tolerance = coarseTimestamps ? fixedFrameLength / 2 : 64;
                if (std::llabs(placed - sourceNext) > std::max<int64_t>(tolerance, 64)) {
                    damaged = true;
                    av_frame_unref(frame.get());
                    return false;
                }
            }
            frameStart = sourceNext;
            sourceNext += frame->nb_samples;
            frameValid = true;
            return true;
        }
        if (rc == AVERROR_EOF) {
            decoderDrained = true;
            return false;
        }
        if (isDamageError(rc)) {
            // Broken data before the first placed frame after a seek is preroll noise.
            if (placeNextFrame && ++prerollErrors < kMaxPrerollErrors) continue;
            logIfFailed(rc, "decoding ends at damaged data");
            damaged = true;
            return false;
        }
        if (demuxerEnded) {
            decoderDrained = true;
            return false;
        }
        rc = av_read_frame(format.get(), packet.get());
        if (rc < 0) {
            // End of file, or a read error that ends the sound where the data stops.
            if (rc != AVERROR_EOF) logIfFailed(rc, "reading a sound file");
            demuxerEnded = true;
            avcodec_send_packet(codec.get(), nullptr);
            continue;
        }
        if (packet->stream_index == streamIndex) {
            if (landingPos < 0) landingPos = packet->pos;
            lastSentPos = packet->pos;
            rc = avcodec_send_packet(codec.get(), packet.get());
            if (isDamageError(rc) && !(placeNextFrame && ++prerollErrors < kMaxPrerollErrors)) {
                logIfFailed(rc, "decoding ends at damaged data");
                av_packet_unref(packet.get());
                damaged = true;
                return false;
            }
        }
        av_packet_unref(packet.get());
    }
}

// ---------------------------------------------------------------------------------
// Conversion

// Set up from the first frame after a restart: some decoders settle their sample
// format only once they decode.
int32_t AudioDecoder::Impl::configureResampler(const AVFrame* f) {
    AVChannelLayout inLayout{};
    if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inLayout, f->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&inLayout, &f->ch_layout) < 0)
        return err::NotEnoughMemory;
    AVChannelLayout outLayout{};
    av_channel_layout_default(&outLayout, outChannels);

    SwrContext* raw = nullptr;
    const int rc = swr_alloc_set_opts2(&raw, &outLayout, AV_SAMPLE_FMT_FLT, outRate, &inLayout,
                                       AVSampleFormat(f->format), source.sampleRate, 0, nullptr);
    resamplerInputFormat = f->format;
    swr.reset(raw);
    if (logIfFailed(rc, "setting up the resampler") < 0 || !swr) {
        av_channel_layout_uninit(&inLayout);
        return err::NotEnoughMemory;
    }
    // A mixdown keeps full-scale input within full scale, as the ffmpeg command line's
    // 16-bit output does, instead of summing channels past it.
    av_opt_set_double(swr.get(), "rematrix_maxval", 1.0, 0);
    if (inLayout.nb_channels == 1 && outChannels == 2) {
        // Both output channels at the mono's own level (the default matrix drops it by 3 dB).
        const double matrix[2] = {1.0, 1.0};
        swr_set_matrix(swr.get(), matrix, 1);
    }
    av_channel_layout_uninit(&inLayout);
    return logIfFailed(swr_init(swr.get()), "starting the resampler") < 0 ? err::InvalidSoundFile : err::Ok;
}

// Positions and the resampler assume the stream's parameters; a stream that changes
// them part-way is treated like damage there.
bool AudioDecoder::Impl::frameMatchesStream(const AVFrame* f) const {
    return f->sample_rate == source.sampleRate && f->ch_layout.nb_channels == source.channels &&
           (!swr || f->format == resamplerInputFormat);
}

// What a continuous conversion yields for a number of source frames: the resampler
// ends on the output sample that covers the last source sample.
int64_t AudioDecoder::Impl::sourceToOutput(int64_t sourceFrames) const {
    if (outRate == source.sampleRate) return sourceFrames;
    return av_rescale_rnd(sourceFrames, outRate, source.sampleRate, AV_ROUND_UP);
}

int AudioDecoder::Impl::feedResampler(const uint8_t* const* in, int inFrames) {
    const int capacity = swr_get_out_samples(swr.get(), inFrames) + 16;
    const size_t oldSize = pending.size();
    pending.resize(oldSize + size_t(capacity) * size_t(outChannels));
    uint8_t* out = reinterpret_cast<uint8_t*>(pending.data() + oldSize);
    const int produced =
        logIfFailed(swr_convert(swr.get(), &out, capacity, const_cast<const uint8_t**>(in), inFrames), "resampling");
    pending.resize(oldSize + size_t(std::max(produced, 0)) * size_t(outChannels));
    return produced;
}

// Converts more source audio into `pending`. False when nothing more will come.
bool AudioDecoder::Impl::fillPending() {
    const int64_t sourceEnd = source.lengthFrames;
    while (true) {
        if (!frameValid) {
            if ((placeNextFrame || sourceNext < sourceEnd) && decodeNextFrame()) {
                // fall through to consume it
            } else {
                if (resamplerFlushed || !swr) return false;
                resamplerFlushed = true;
                const size_t before = pending.size();
                feedResampler(nullptr, 0);
                return pending.size() > before;
            }
        }
        if (!frameMatchesStream(frame.get()) || (!swr && configureResampler(frame.get()) != err::Ok)) {
            av_frame_unref(frame.get());
            frameValid = false;
            damaged = true;
            return false;
        }
        // Drop what lies before the seek target and beyond the exact length.
        int64_t begin = frameStart;
        int64_t end = std::min<int64_t>(frameStart + frame->nb_samples, sourceEnd);
        if (begin < sourceSkipTo) begin = std::min(sourceSkipTo, end);
        if (end <= begin) {
            av_frame_unref(frame.get());
            frameValid = false;
            continue;
        }
        const int64_t offset = begin - frameStart;
        const int channels = frame->ch_layout.nb_channels;
        const int bytes = av_get_bytes_per_sample(AVSampleFormat(frame->format));
        const bool planar = av_sample_fmt_is_planar(AVSampleFormat(frame->format));
        std::vector<const uint8_t*> planes(planar ? size_t(channels) : 1);
        for (size_t c = 0; c < planes.size(); ++c)
            planes[c] = frame->extended_data[c] + offset * bytes * (planar ? 1 : channels);
        const size_t before = pending.size();
        const int produced = feedResampler(planes.data(), int(end - begin));
        av_frame_unref(frame.get());
        frameValid = false;
        if (produced < 0) {
            damaged = true;
            return false;
        }
        if (pending.size() > before) return true;
    }
}

// ---------------------------------------------------------------------------------
// Seeking

int32_t AudioDecoder::Impl::restartSource(int64_t sourceFrame) {
    sourceSkipTo = sourceFrame;
    int64_t seekTo = seekByCounting ? 0 : sourceFrame - prerollFrames;
    for (int attempt = 0; attempt < 4 && seekTo > 0; ++attempt) {
        if (!seekDemuxer(seekTo)) break;
        if (decodeNextFrame()) {
            // The demuxer must land at or before the target: otherwise step back.
            const bool landedOnLastPacket = lastPacketPos >= 0 && landingPos >= lastPacketPos;
            if (frameStart <= seekTo + prerollFrames / 2 && !landedOnLastPacket) return err::Ok;
        }
        seekTo -= std::max<int64_t>(prerollFrames, source.sampleRate) << attempt;
    }
    // Timestamps missing or unusable here: decode and count from the start.
    return seekDemuxer(0) ? err::Ok : err::InvalidSoundFile;
}

// Restarts conversion so the next read yields output frame `outFrame` exactly as a
// continuous read would: the resampler restarts on a source frame whose output
// position is a whole number, early enough that its filter history is real data.
int32_t AudioDecoder::Impl::restartOutput(int64_t outFrame) {
    int64_t restartOut = outFrame;
    int64_t restartSrc = outFrame;
    if (outRate != source.sampleRate) {
        const int64_t g = std::gcd(int64_t(outRate), int64_t(source.sampleRate));
        const int64_t stepOut = outRate / g;
        const int64_t stepSrc = source.sampleRate / g;
        const int64_t prerollOut = av_rescale_rnd(kResamplerPrerollSourceFrames, outRate, source.sampleRate, AV_ROUND_UP) *
                                   std::max<int64_t>(1, source.sampleRate / outRate);
        const int64_t steps = std::max<int64_t>(0, (outFrame - prerollOut) / stepOut);
        restartOut = steps * stepOut;
        restartSrc = steps * stepSrc;
    }
    const int32_t rc = restartSource(restartSrc);
    if (rc != err::Ok) return rc;
    swr.reset();
    pending.clear();
    pendingOffset = 0;
    resamplerFlushed = false;
    discardOut = outFrame - restartOut;
    outPos = outFrame;
    return err::Ok;
}

// ---------------------------------------------------------------------------------
// Public interface

AudioDecoder::AudioDecoder(PrivateKey) : impl_(std::make_unique<Impl>()) {}
AudioDecoder::~AudioDecoder() = default;

std::unique_ptr<AudioDecoder> AudioDecoder::open(const QString& path, int outputRate, int outputChannels,
                                                 int32_t* error) {
    auto fail = [&](int32_t code) -> std::unique_ptr<AudioDecoder> {
        if (error) *error = code;
        return nullptr;
    };
    if (outputRate < 0 || outputChannels < 0) return fail(err::ParameterOutOfRange);
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable() || info.size() == 0) return fail(err::InvalidSoundFile);

    auto decoder = std::make_unique<AudioDecoder>(PrivateKey{});
    Impl& d = *decoder->impl_;
    d.path = path;
    int32_t rc = d.openFile();
    if (rc == err::Ok) rc = d.openStream();
    if (rc == err::Ok) rc = d.findOrigin();
    if (rc == err::Ok) rc = d.computeLength();
    if (rc != err::Ok) return fail(rc);

    d.outRate = outputRate > 0 ? outputRate : d.source.sampleRate;
    d.outChannels = outputChannels > 0 ? outputChannels : std::min(d.source.channels, 2);
    d.outLength = d.sourceToOutput(d.source.lengthFrames);
    rc = d.restartOutput(0);
    if (rc != err::Ok) return fail(rc);
    if (error) *error = err::Ok;
    return decoder;
}

const SourceInfo& AudioDecoder::source() const { return impl_->source; }
int AudioDecoder::outputRate() const { return impl_->outRate; }
int AudioDecoder::outputChannels() const { return impl_->outChannels; }
int64_t AudioDecoder::lengthFrames() const { return impl_->outLength; }
int32_t AudioDecoder::lengthMs() const { return int32_t(framesToMs(impl_->outLength, impl_->outRate)); }
int64_t AudioDecoder::position() const { return impl_->outPos; }

int32_t AudioDecoder::seek(int64_t frame) {
    Impl& d = *impl_;
    frame = std::clamp<int64_t>(frame, 0, d.outLength);
    return d.restartOutput(frame);
}

int64_t AudioDecoder::read(float* dst, int64_t maxFrames) {
    Impl& d = *impl_;
    if (!dst || maxFrames < 0) return err::ParameterOutOfRange;
    int64_t written = 0;
    while (written < maxFrames && d.outPos < d.outLength) {
        const int64_t have = int64_t(d.pending.size()) / d.outChannels - int64_t(d.pendingOffset);
        if (have <= 0) {
            d.pending.clear();
            d.pendingOffset = 0;
            if (d.fillPending()) continue;
            // The decoder ended early. After a clean end (rounding in the resampler or
            // the container) the rest is silence so the length holds; damage ends here.
            if (d.damaged) break;
            const int64_t n = std::min(maxFrames - written, d.outLength - d.outPos);
            std::fill_n(dst + written * d.outChannels, n * d.outChannels, 0.0f);
            written += n;
            d.outPos += n;
            continue;
        }
        if (d.discardOut > 0) {
            const int64_t drop = std::min(have, d.discardOut);
            d.pendingOffset += size_t(drop);
            d.discardOut -= drop;
            continue;
        }
        const int64_t n = std::min({have, maxFrames - written, d.outLength - d.outPos});
        std::memcpy(dst + written * d.outChannels, d.pending.data() + d.pendingOffset * size_t(d.outChannels),
                    size_t(n * d.outChannels) * sizeof(float));
        d.pendingOffset += size_t(n);
        written += n;
        d.outPos += n;
    }
    return written;
}

int64_t msToFrames(int64_t ms, int rate) { return std::llround(double(ms) * rate / 1000.0); }
int64_t framesToMs(int64_t frames, int rate) { return rate > 0 ? std::llround(double(frames) * 1000.0 / rate) : 0; }

}  // namespace clipwren::decode
