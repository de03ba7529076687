#include "components/decode/AudioDecoder.h"

#include "components/decode/Converter.h"
#include "components/decode/EditListEnd.h"
#include "components/decode/FrameReader.h"
#include "components/decode/InputFile.h"
#include "components/decode/PrerolledSeek.h"
#include "components/decode/StreamProbe.h"
#include "components/decode/StreamTimeline.h"
#include "components/errors/modSoundErrDesc.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace clipwren::decode {

// The parts, each with one job: the file and its decoder (InputFile), where decoded
// audio lies (StreamTimeline), decoding frame by frame (FrameReader), landing before a
// seek target (PrerolledSeek), finding start and length (StreamProbe), conversion to
// the output's format (Converter). This file joins them: opening, seeking and reading
// in output frames.
struct AudioDecoder::Impl {
    SourceInfo source;
    int64_t outLength = 0;

    InputFile input;
    StreamTimeline timeline;
    FrameReader reader{input, timeline};
    std::optional<PrerolledSeek> seeker;
    Converter converter;

    int64_t sourceSkipTo = 0;  // source samples before this are dropped (after a seek)
    int64_t outPos = 0;        // output index of the next frame read() returns
    int64_t discardOut = 0;    // converted frames still to drop before outPos

    int32_t open(const QString& path, int outputRate, int outputChannels);
    // Restarts so the next read yields output frame `outFrame` exactly as a continuous
    // read would.
    int32_t restartOutput(int64_t outFrame);
    // Converts more source audio. False when nothing more will come.
    bool convertMore();
};

int32_t AudioDecoder::Impl::open(const QString& path, int outputRate, int outputChannels) {
    int32_t rc = input.open(path);
    if (rc == err::Ok) rc = reader.allocate();
    if (rc != err::Ok) return rc;

    const AVCodecContext* codec = input.codec();
    const AVStream* stream = input.stream();
    source.sampleRate = codec->sample_rate;
    source.channels = codec->ch_layout.nb_channels;
    source.codecName = input.codecName();
    source.containerName = input.containerName();
    const int64_t preroll = decoderPrerollFrames(stream->codecpar);
    // WAV-like containers derive a seek's timestamp from the byte rate, exact only for
    // plain PCM (ADPCM and other block codecs store a rounded byte rate).
    const QString& container = source.containerName;
    const bool byteRateTimestamps = av_get_exact_bits_per_sample(stream->codecpar->codec_id) == 0 &&
                                    (container == "wav" || container == "w64" || container == "aiff");
    timeline.setUp(stream, codec->codec_id, source.sampleRate,
                   byteRateTimestamps ? SeekMethod::ByCounting : SeekMethod::ByTimestamp);

    if ((rc = findOrigin(input, timeline)) != err::Ok) return rc;
    ProbedLength length;
    LengthProbe probe(input, timeline, reader, source.sampleRate, preroll);
    if ((rc = probe.run(&length)) != err::Ok) return rc;
    source.lengthFrames =
        std::min(length.frames, editListEnd(input, timeline, source.sampleRate).value_or(length.frames));
    seeker.emplace(reader, timeline, source.sampleRate, preroll);
    seeker->setLastPacketPosition(length.lastPacketPosition);

    const int outRate = outputRate > 0 ? outputRate : source.sampleRate;
    const int outChannels = outputChannels > 0 ? outputChannels : std::min(source.channels, 2);
    converter.setUp(source.sampleRate, source.channels, outRate, outChannels);
    outLength = converter.outputFramesFor(source.lengthFrames);
    return restartOutput(0);
}

int32_t AudioDecoder::Impl::restartOutput(int64_t outFrame) {
    const Converter::RestartPoint restart = converter.restartPointFor(outFrame);
    sourceSkipTo = restart.sourceFrame;
    const int32_t rc = seeker->landBefore(restart.sourceFrame);
    if (rc != err::Ok) return rc;
    converter.restart();
    discardOut = outFrame - restart.outputFrame;
    outPos = outFrame;
    return err::Ok;
}

bool AudioDecoder::Impl::convertMore() {
    const int64_t sourceEnd = source.lengthFrames;
    while (true) {
        if (!reader.hasFrame() && !((reader.placing() || reader.nextFrameStart() < sourceEnd) && reader.next()))
            return converter.flush();
        const AVFrame* frame = reader.frame();
        if (!converter.accepts(frame)) {
            // A stream that changes its parameters part-way is treated like damage there.
            reader.release();
            reader.stopAsDamaged();
            return false;
        }
        // Drop what lies before the seek target and beyond the exact length.
        const int64_t frameStart = reader.frameStart();
        int64_t begin = frameStart;
        const int64_t end = std::min<int64_t>(frameStart + frame->nb_samples, sourceEnd);
        if (begin < sourceSkipTo) begin = std::min(sourceSkipTo, end);
        if (end <= begin) {
            reader.release();
            continue;
        }
        const int produced = converter.convert(frame, begin - frameStart, end - begin);
        reader.release();
        if (produced < 0) {
            reader.stopAsDamaged();
            return false;
        }
        if (produced > 0) return true;
    }
}

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
    if (const int32_t rc = decoder->impl_->open(path, outputRate, outputChannels); rc != err::Ok) return fail(rc);
    if (error) *error = err::Ok;
    return decoder;
}

const SourceInfo& AudioDecoder::source() const { return impl_->source; }
int AudioDecoder::outputRate() const { return impl_->converter.outputRate(); }
int AudioDecoder::outputChannels() const { return impl_->converter.outputChannels(); }
int64_t AudioDecoder::lengthFrames() const { return impl_->outLength; }
int32_t AudioDecoder::lengthMs() const { return int32_t(framesToMs(impl_->outLength, outputRate())); }
int64_t AudioDecoder::position() const { return impl_->outPos; }

int32_t AudioDecoder::seek(int64_t frame) {
    Impl& d = *impl_;
    return d.restartOutput(std::clamp<int64_t>(frame, 0, d.outLength));
}

int64_t AudioDecoder::read(float* dst, int64_t maxFrames) {
    Impl& d = *impl_;
    if (!dst || maxFrames < 0) return err::ParameterOutOfRange;
    const int channels = d.converter.outputChannels();
    int64_t written = 0;
    while (written < maxFrames && d.outPos < d.outLength) {
        const int64_t have = d.converter.available();
        if (have <= 0) {
            if (d.convertMore()) continue;
            // The decoder ended early. After a clean end (rounding in the resampler or
            // the container) the rest is silence so the length holds; damage ends here.
            if (d.reader.damaged()) break;
            const int64_t n = std::min(maxFrames - written, d.outLength - d.outPos);
            std::fill_n(dst + written * channels, n * channels, 0.0f);
            written += n;
            d.outPos += n;
            continue;
        }
        if (d.discardOut > 0) {
            const int64_t drop = std::min(have, d.discardOut);
            d.converter.consume(drop);
            d.discardOut -= drop;
            continue;
        }
        const int64_t n = std::min({have, maxFrames - written, d.outLength - d.outPos});
        std::memcpy(dst + written * channels, d.converter.data(), size_t(n * channels) * sizeof(float));
        d.converter.consume(n);
        written += n;
        d.outPos += n;
    }
    return written;
}

}  // namespace clipwren::decode
