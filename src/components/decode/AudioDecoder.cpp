#include "components/decode/AudioDecoder.h"

#include "components/decode/Converter.h"
#include "components/decode/EditListEnd.h"
#include "components/decode/FrameReader.h"
#include "components/decode/InputFile.h"
#include "components/decode/PrerolledSeek.h"
#include "components/decode/StreamProbe.h"
#include "components/decode/StreamTimeline.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/files/LocalFileName.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace clipwren::decode {

namespace {

// Silence for lost audio is converted in pieces of this many frames, so a long loss
// needs no more memory than a frame of audio.
constexpr int64_t kSilenceChunkFrames = 8192;

// How many frames a clean end may fall short of the length: the resampler's last
// output, which ends on the output sample covering the last source sample.
constexpr int64_t kEndRoundingFrames = 4;

}  // namespace

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

    // Source frames before this have been converted, or lie before a seek's target.
    int64_t sourceConverted = 0;
    int64_t outPos = 0;        // output index of the next frame read() returns
    int64_t discardOut = 0;    // converted frames still to drop before outPos
    int64_t owedSilence = 0;   // source frames of lost audio still to fill before the current frame
    int64_t concealedSource = 0;  // source frames filled with silence since the last seek

    int32_t open(const QString& path, int outputRate, int outputChannels);
    int32_t fail(int32_t code, const QString& why);
    QString failure;  // why open() failed
    // Restarts so the next read yields output frame `outFrame` exactly as a continuous
    // read would.
    int32_t restartOutput(int64_t outFrame);
    // Converts more source audio. False when nothing more will come.
    bool convertMore();
    // The samples of a frame that cover a number of source frames from its start.
    int64_t frameSamplesFor(const AVFrame* frame, int64_t sourceFrames) const;
    // Ends reading here: what follows cannot be converted.
    bool stop();
};

int32_t AudioDecoder::Impl::open(const QString& path, int outputRate, int outputChannels) {
    int32_t rc = input.open(path);
    if (rc != err::Ok) return fail(rc, input.failure());
    if ((rc = reader.allocate()) != err::Ok) return rc;

    const AVCodecContext* codec = input.codec();
    source.sampleRate = codec->sample_rate;
    source.channels = codec->ch_layout.nb_channels;
    source.codecName = input.codecName();
    source.containerName = input.containerName();
    const int64_t preroll = decoderPrerollFrames(input.parameters());
    // WAV-like containers derive a seek's timestamp from the byte rate, exact only for
    // plain PCM (ADPCM and other block codecs store a rounded byte rate).
    const QString& container = source.containerName;
    const bool byteRateTimestamps = av_get_exact_bits_per_sample(input.parameters()->codec_id) == 0 &&
                                    (container == "wav" || container == "w64" || container == "aiff");
    timeline.setUp(input.stream(), codec->codec_id, source.sampleRate,
                   byteRateTimestamps ? SeekMethod::ByCounting : SeekMethod::ByTimestamp);

    const QString noSound = QStringLiteral("its audio yields no sound");
    const FramePtr firstFrame(av_frame_alloc());
    if (!firstFrame) return err::NotEnoughMemory;
    if ((rc = findOrigin(input, timeline, firstFrame.get())) != err::Ok) return fail(rc, noSound);
    ProbedLength length;
    if (const std::optional<int64_t> indexed = input.indexedLength()) {
        length.frames = *indexed;
    } else {
        LengthProbe probe(input, timeline, reader, source.sampleRate, preroll);
        if ((rc = probe.run(&length)) != err::Ok) return fail(rc, noSound);
    }
    source.lengthFrames = std::min({length.frames, editListEnd(input, timeline).value_or(length.frames),
                                    input.granuleEnd().value_or(length.frames)});
    seeker.emplace(reader, timeline, source.sampleRate, preroll);
    seeker->setLastPacketPosition(length.lastPacketPosition);

    const int outRate = outputRate > 0 ? outputRate : source.sampleRate;
    const int outChannels = outputChannels > 0 ? outputChannels : std::min(source.channels, 2);
    converter.setUp(source.sampleRate, outRate, outChannels);
    // A format the resampler cannot convert is refused now rather than ending the sound
    // at its first frame.
    if (converter.prepareFor(firstFrame.get()) < 0) return fail(err::InvalidSoundFile, converter.failure());
    outLength = converter.outputFramesFor(source.lengthFrames);
    return restartOutput(0);
}

int32_t AudioDecoder::Impl::fail(int32_t code, const QString& why) {
    failure = why;
    return code;
}

int32_t AudioDecoder::Impl::restartOutput(int64_t outFrame) {
    const Converter::RestartPoint restart = converter.restartPointFor(outFrame);
    sourceConverted = restart.sourceFrame;
    const int32_t rc = seeker->landBefore(restart.sourceFrame);
    if (rc != err::Ok) return rc;
    converter.restart();
    owedSilence = 0;
    concealedSource = 0;
    discardOut = outFrame - restart.outputFrame;
    outPos = outFrame;
    return err::Ok;
}

bool AudioDecoder::Impl::convertMore() {
    const int64_t sourceEnd = source.lengthFrames;
    for (;;) {
        if (owedSilence > 0) {
            const int64_t n = std::min(owedSilence, kSilenceChunkFrames);
            owedSilence -= n;
            concealedSource += n;
            const int produced = converter.convertSilence(n);
            if (produced < 0) return stop();
            if (produced > 0) return true;
            continue;
        }
        if (!reader.hasFrame() && !((reader.placing() || reader.nextFrameStart() < sourceEnd) && reader.next()))
            return converter.flush();
        const AVFrame* frame = reader.frame();
        const int tail = converter.prepareFor(frame);
        if (tail < 0) {
            reader.release();
            return stop();
        }
        const int64_t frameStart = reader.frameStart();
        // Lost audio before this frame, as far as it lies in the part read, is silence.
        if (const int64_t gap = reader.takeGapBefore(); gap > 0) {
            const int64_t gapEnd = std::min(frameStart, sourceEnd);
            owedSilence = std::max<int64_t>(0, gapEnd - std::max(frameStart - gap, sourceConverted));
            sourceConverted = std::max(sourceConverted, gapEnd);
        }
        if (tail > 0) return true;
        if (owedSilence > 0) continue;
        // Drop what lies before the seek target or was converted already (frames that
        // overlap), and what lies beyond the exact length.
        const int64_t end = std::min(frameStart + reader.frameSpan(), sourceEnd);
        const int64_t begin = std::min(std::max(frameStart, sourceConverted), end);
        if (end <= begin) {
            reader.release();
            continue;
        }
        sourceConverted = end;
        const int64_t first = frameSamplesFor(frame, begin - frameStart);
        const int64_t last = frameSamplesFor(frame, end - frameStart);
        const int produced = last > first ? converter.convert(frame, first, last - first) : 0;
        reader.release();
        if (produced < 0) return stop();
        if (produced > 0) return true;
    }
}

int64_t AudioDecoder::Impl::frameSamplesFor(const AVFrame* frame, int64_t sourceFrames) const {
    if (frame->sample_rate == source.sampleRate) return sourceFrames;
    return std::min<int64_t>(av_rescale(sourceFrames, frame->sample_rate, source.sampleRate), frame->nb_samples);
}

bool AudioDecoder::Impl::stop() {
    reader.stop();
    return false;
}

AudioDecoder::AudioDecoder(PrivateKey) : impl_(std::make_unique<Impl>()) {}
AudioDecoder::~AudioDecoder() = default;

Result<std::unique_ptr<AudioDecoder>> AudioDecoder::open(const QString& path, int outputRate, int outputChannels) {
    const auto fail = [&path](int32_t code, const QString& why = QString()) {
        return Failure{code, files::FailedSoundFileText(path, why)};
    };
    if (outputRate < 0 || outputChannels < 0) return fail(err::ParameterOutOfRange);
    // Checked here so that a folder, a device or a pipe fails at once with the right code
    // and is never opened.
    if (const std::optional<QString> why = files::WhyNotReadable(path)) return fail(err::InvalidSoundFile, *why);

    auto decoder = std::make_unique<AudioDecoder>(PrivateKey{});
    if (const int32_t rc = decoder->impl_->open(path, outputRate, outputChannels); rc != err::Ok) {
        // FFmpeg's reason for a file that is no sound, where its first bytes tell better.
        const QString& failure = decoder->impl_->failure;
        return fail(rc, rc == err::InvalidSoundFile ? whatTheHeadSays(path).value_or(failure) : failure);
    }
    return decoder;
}

const SourceInfo& AudioDecoder::source() const { return impl_->source; }
int AudioDecoder::outputRate() const { return impl_->converter.outputRate(); }
int AudioDecoder::outputChannels() const { return impl_->converter.outputChannels(); }
int64_t AudioDecoder::lengthFrames() const { return impl_->outLength; }
int32_t AudioDecoder::lengthMs() const { return int32_t(framesToMs(impl_->outLength, outputRate())); }
int64_t AudioDecoder::position() const { return impl_->outPos; }
int64_t AudioDecoder::concealedFrames() const {
    return impl_->converter.outputFramesFor(impl_->concealedSource);
}
int64_t AudioDecoder::damagedPackets() const { return impl_->reader.decodeErrors(); }

int32_t AudioDecoder::seek(int64_t frame) {
    Impl& d = *impl_;
    return d.restartOutput(std::clamp<int64_t>(frame, 0, d.outLength));
}

void AudioDecoder::expectSeeks() { impl_->input.expectSeeks(); }

int64_t AudioDecoder::read(float* dst, int64_t maxFrames) {
    Impl& d = *impl_;
    if (!dst || maxFrames < 0) return err::ParameterOutOfRange;
    const int channels = d.converter.outputChannels();
    int64_t written = 0;
    while (written < maxFrames && d.outPos < d.outLength) {
        const int64_t have = d.converter.available();
        if (have <= 0) {
            if (d.convertMore()) continue;
            // The decoder has ended. What rounding at the end may leave short is silence, so
            // the length holds; anything more means the sound ended early, and reading ends
            // with it rather than making up audio.
            const int64_t missing = d.outLength - d.outPos;
            if (d.reader.stopped() || missing > kEndRoundingFrames) break;
            const int64_t n = std::min(maxFrames - written, missing);
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
