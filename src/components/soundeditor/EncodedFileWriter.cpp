#include "components/soundeditor/EncodedFileWriter.h"

#include "components/decode/FfmpegError.h"
#include "components/decode/FfmpegHandles.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/AsfPicture.h"
#include "components/soundeditor/OutputContainer.h"
#include "components/soundeditor/lossless/Mp3InfoFrame.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace clipwren::soundeditor {

namespace {

// The decoder's handles cover codec, frame, packet and resampler; writing adds the
// sample queue.
struct FifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};

// Encoders that take any frame size get frames of this many samples.
constexpr int kVariableFrameSize = 4096;

}  // namespace

struct EncodedFileWriter::Impl {
    // FFmpeg's ASF muxer writes no picture: the cover goes into its header on the way out.
    std::unique_ptr<AsfPictureInserter> asfPicture;  // outlives the container
    OutputContainerPtr container;
    decode::CodecContextPtr encoder;
    std::unique_ptr<AVAudioFifo, FifoDeleter> fifo;  // interleaved float, waiting for a whole frame
    decode::SwrContextPtr converter;  // float to the encoder's sample format
    decode::FramePtr frame;
    decode::PacketPtr packet;
    AVStream* stream = nullptr;
    std::vector<float> scratch;
    int channels = 0;
    int frameSize = 0;
    bool decoderDropsFirstFrame = false;
    int minimumEncodedFrames = 0;
    int64_t samplesSent = 0;
    // An MP3 into a stream: the FFmpeg muxer writes its header frame only where it can go
    // back, so ours goes in front of the first packet, and the packets it counts are kept.
    bool mp3IntoStream = false;
    bool constantBitRate = false;
    int64_t announcedFrames = -1;
    int64_t packetsToKeep = -1;  // -1: no header of ours, every packet is kept

    int32_t drainPackets() {
        for (;;) {
            const int result = avcodec_receive_packet(encoder.get(), packet.get());
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return err::Ok;
            if (decode::logIfFailed(result, "encoding audio") < 0) return err::EncoderFailedToStart;
            if (mp3IntoStream && announcedFrames >= 0 && packetsToKeep < 0 && !writeStreamHeader())
                return err::FileCreationFailed;
            // LAME ends with a frame more than the header counts where its last frame
            // holds only padding; the decoder needs nothing of it.
            if (packetsToKeep == 0) {
                av_packet_unref(packet.get());
                continue;
            }
            if (packetsToKeep > 0) --packetsToKeep;
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            const int written = av_interleaved_write_frame(container.get(), packet.get());
            if (decode::logIfFailed(written, "writing audio") < 0) return err::FileCreationFailed;
        }
    }

    // The header frame for the announced length, built on the encoder's first frame
    // header. The frames that hold the sound: the encoder's delay and every sample fed,
    // plus the decoder's own delay, before whose end the last sample is not out.
    bool writeStreamHeader() {
        using namespace mp3;
        const std::optional<FrameHeader> first =
            packet->size >= 4 ? parseFrameHeader(packet->data) : std::optional<FrameHeader>();
        if (!first) {
            packetsToKeep = -1;
            mp3IntoStream = false;  // not a frame we know: the stream goes without
            return true;
        }
        const int64_t perFrame = first->samplesPerFrame();
        const int64_t coded = encoder->initial_padding + announcedFrames;
        const int64_t frames = (coded + perFrame - 1) / perFrame;
        InfoFrameFields fields;
        fields.constantBitRate = constantBitRate;
        fields.frames = uint32_t(frames);
        fields.encoderDelay = encoder->initial_padding - kDecoderDelay;
        fields.padding = int(frames * perFrame - announcedFrames - fields.encoderDelay);
        const QByteArray header = buildInfoFrame(infoFrameHeader(*first, constantBitRate), fields);
        avio_write(container->pb, reinterpret_cast<const unsigned char*>(header.constData()), int(header.size()));
        packetsToKeep = frames;
        return container->pb->error >= 0;
    }

    int32_t encodeFromFifo(int frames) {
        int result = av_frame_make_writable(frame.get());
        if (result >= 0) {
            frame->nb_samples = frames;
            void* scratchData = scratch.data();
            av_audio_fifo_read(fifo.get(), &scratchData, frames);
            const auto* input = reinterpret_cast<const uint8_t*>(scratch.data());
            result = swr_convert(converter.get(), frame->data, frames, &input, frames);
        }
        if (decode::logIfFailed(result, "preparing audio for the encoder") < 0) return err::NotEnoughMemory;
        frame->pts = samplesSent;  // in samples: the encoder's time base is 1/rate
        samplesSent += frames;
        return sendToEncoder(frame.get());
    }

    int32_t sendToEncoder(const AVFrame* input) {
        if (decode::logIfFailed(avcodec_send_frame(encoder.get(), input), "encoding audio") < 0)
            return err::EncoderFailedToStart;
        return drainPackets();
    }
};

EncodedFileWriter::EncodedFileWriter(PrivateKey) : impl_(std::make_unique<Impl>()) {}
EncodedFileWriter::~EncodedFileWriter() = default;

Result<std::unique_ptr<EncodedFileWriter>> EncodedFileWriter::open(PendingOutputFile& output,
                                                                   const Encoding& encoding, int sampleRate,
                                                                   int channels, const SourceTags& tags) {
    const auto fail = [](int32_t code) { return Failure{code}; };
    const AVCodec* codec = avcodec_find_encoder_by_name(encoding.codec);
    if (!codec) return fail(err::EncoderNotAvailable);

    auto writer = std::make_unique<EncodedFileWriter>(PrivateKey{});
    Impl& d = *writer->impl_;
    int allocated = 0;
    if (tags.cover && std::strcmp(encoding.muxer, "asf") == 0)
        d.asfPicture = std::make_unique<AsfPictureInserter>(*tags.cover);
    d.container = openOutputContainer(encoding.muxer, output, &allocated, d.asfPicture.get());
    if (decode::logIfFailed(allocated, encoding.muxer) < 0) return fail(err::EncoderFailedToStart);

    d.encoder.reset(avcodec_alloc_context3(codec));
    if (!d.encoder) return fail(err::NotEnoughMemory);
    AVCodecContext& encoder = *d.encoder;
    encoder.sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&encoder.ch_layout, channels);
    encoder.sample_rate = sampleRate;
    encoder.time_base = AVRational{1, sampleRate};
    if (encoding.bitRate > 0) encoder.bit_rate = encoding.bitRate;
    if (encoding.averageBitRate) av_opt_set_int(encoder.priv_data, "abr", 1, 0);
    if (encoding.useQuality) {
        encoder.flags |= AV_CODEC_FLAG_QSCALE;
        encoder.global_quality = int(std::lround(encoding.quality * FF_QP2LAMBDA));
    }
    if (d.container->oformat->flags & AVFMT_GLOBALHEADER) encoder.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (decode::logIfFailed(avcodec_open2(&encoder, codec, nullptr), encoding.codec) < 0)
        return fail(err::EncoderNotAvailable);
    const bool anyFrameSize = encoder.frame_size <= 0 || (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
    d.frameSize = anyFrameSize ? kVariableFrameSize : encoder.frame_size;
    d.channels = channels;
    d.decoderDropsFirstFrame = encoding.decoderDropsFirstFrame;
    d.minimumEncodedFrames = encoding.minimumEncodedFrames;
    d.mp3IntoStream = std::strcmp(encoding.muxer, "mp3") == 0 && !output.seekable();
    d.constantBitRate = !encoding.averageBitRate && !encoding.useQuality;

    d.stream = avformat_new_stream(d.container.get(), nullptr);
    if (!d.stream || avcodec_parameters_from_context(d.stream->codecpar, &encoder) < 0)
        return fail(err::NotEnoughMemory);
    d.stream->time_base = encoder.time_base;
    const int picture = addTags(d.container.get(), tags);

    AVDictionary* rawMuxerOptions = nullptr;
    if (encoding.sampleExactEditList) av_dict_set_int(&rawMuxerOptions, "movie_timescale", sampleRate, 0);
    // A WAV's sizes are 32-bit: past 4 GiB the file becomes RF64, which keeps 64-bit sizes.
    if (encoding.largeFileAsRf64) av_dict_set(&rawMuxerOptions, "rf64", "auto", 0);
    const int headerWritten = avformat_write_header(d.container.get(), &rawMuxerOptions);
    av_dict_free(&rawMuxerOptions);
    if (decode::logIfFailed(headerWritten, "starting the output") < 0) return fail(err::EncoderFailedToStart);
    if (decode::logIfFailed(writeCover(d.container.get(), picture, tags), "writing the cover") < 0)
        return fail(err::FileCreationFailed);

    SwrContext* rawConverter = nullptr;
    if (decode::logIfFailed(swr_alloc_set_opts2(&rawConverter, &encoder.ch_layout, encoder.sample_fmt, sampleRate,
                                                &encoder.ch_layout, AV_SAMPLE_FMT_FLT, sampleRate, 0, nullptr),
                            "setting up the sample converter") < 0)
        return fail(err::NotEnoughMemory);
    d.converter.reset(rawConverter);
    d.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLT, channels, d.frameSize));
    d.frame.reset(av_frame_alloc());
    d.packet.reset(av_packet_alloc());
    if (decode::logIfFailed(swr_init(d.converter.get()), "starting the sample converter") < 0 || !d.fifo || !d.frame ||
        !d.packet)
        return fail(err::NotEnoughMemory);
    d.frame->format = encoder.sample_fmt;
    d.frame->sample_rate = sampleRate;
    d.frame->nb_samples = d.frameSize;
    if (av_channel_layout_copy(&d.frame->ch_layout, &encoder.ch_layout) < 0 ||
        av_frame_get_buffer(d.frame.get(), 0) < 0)
        return fail(err::NotEnoughMemory);
    d.scratch.resize(size_t(d.frameSize) * size_t(channels));
    return writer;
}

int64_t EncodedFileWriter::leadFrames() const {
    return impl_->decoderDropsFirstFrame ? impl_->frameSize : 0;
}

void EncodedFileWriter::announceLength(int64_t frames) { impl_->announcedFrames = frames; }

int32_t EncodedFileWriter::write(const float* interleaved, int64_t frames) {
    Impl& d = *impl_;
    void* input = const_cast<float*>(interleaved);  // av_audio_fifo_write only reads it
    if (av_audio_fifo_write(d.fifo.get(), &input, int(frames)) < frames) return err::NotEnoughMemory;
    while (av_audio_fifo_size(d.fifo.get()) >= d.frameSize) {
        const int32_t result = d.encodeFromFifo(d.frameSize);
        if (result != err::Ok) return result;
    }
    return err::Ok;
}

int32_t EncodedFileWriter::writeSilence(int64_t frames) {
    if (frames <= 0) return err::Ok;
    const std::vector<float> silence(size_t(frames) * size_t(impl_->channels));
    return write(silence.data(), frames);
}

int32_t EncodedFileWriter::finish() {
    Impl& d = *impl_;
    if (d.decoderDropsFirstFrame) {
        if (const int32_t result = writeSilence(d.frameSize); result != err::Ok) return result;
    }
    // The encoder's output holds its priming samples and then every sample fed, in whole
    // frames, so feeding this many samples yields at least the minimum number of frames.
    const int64_t minimumSamples = int64_t(d.minimumEncodedFrames) * d.frameSize - d.encoder->initial_padding;
    const int64_t fed = d.samplesSent + av_audio_fifo_size(d.fifo.get());
    if (const int32_t result = writeSilence(std::max(minimumSamples, d.mp3IntoStream ? d.announcedFrames : 0) - fed);
        result != err::Ok)
        return result;
    // The last frame may be short; the encoder records the padding it adds.
    if (const int rest = av_audio_fifo_size(d.fifo.get()); rest > 0) {
        if (const int32_t result = d.encodeFromFifo(rest); result != err::Ok) return result;
    }
    if (const int32_t result = d.sendToEncoder(nullptr); result != err::Ok) return result;
    int result = av_write_trailer(d.container.get());
    if (result >= 0) result = flushOutputContainer(*d.container);
    if (decode::logIfFailed(result, "finishing the output") < 0) return err::FileCreationFailed;
    return err::Ok;
}

}  // namespace clipwren::soundeditor
