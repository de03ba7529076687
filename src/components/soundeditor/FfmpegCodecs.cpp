#include "components/soundeditor/FfmpegCodecs.h"

#include "components/files/LocalFileName.h"
#include "components/soundeditor/EncodedFileWriter.h"
#include "components/soundeditor/SourceTags.h"
#include "components/soundeditor/lossless/AacCut.h"
#include "components/soundeditor/lossless/Mp3GlobalGain.h"

#include <algorithm>
#include <limits>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace clipwren::soundeditor {

namespace {

constexpr int64_t kChunkFrames = 8192;

class FfmpegSource : public DecodedSource {
public:
    FfmpegSource(QString path, std::unique_ptr<decode::AudioDecoder> decoder)
        : path_(std::move(path)), decoder_(std::move(decoder)) {}

    const decode::SourceInfo& info() const override { return decoder_->source(); }
    int64_t lengthFrames() const override { return decoder_->lengthFrames(); }
    Failure seek(int64_t frame) override { return {decoder_->seek(frame)}; }

    Failure copyAac(int64_t begin, int64_t end, const Encoding& encoding, const TagFields& replaced,
                    PendingOutputFile& output, const CopyHooks& hooks) override {
        return aac::writeAacCut(path_, begin, end, encoding.muxer, withFields(tags(), replaced), output, hooks);
    }

    Failure planGlobalGain(const Selection& selection, int sampleRate, int channels,
                           const processing::Shaping& shaping, const CopyHooks& hooks, int* steps,
                           QString* summary) override {
        std::unique_ptr<decode::AudioDecoder> otherFormat;
        const Result<decode::AudioDecoder*> source = decoderAt(sampleRate, channels, &otherFormat);
        if (!source) return source.failure();
        const auto [beginFrame, endFrame] = selection.frames(sampleRate, (*source)->lengthFrames());
        if (endFrame <= beginFrame) return {err::NoSelection};
        processing::ShapingPlan shaped;
        if (const int32_t result = processing::planShaping(**source, beginFrame, endFrame, shaping, hooks.cancelled,
                                                           &shaped, hooks.progress);
            result != err::Ok)
            return {result};
        // The copy decodes to the source's decode times the gain: no encoder makes it peak
        // higher, so the steps may go up to the gain that the true peak allows.
        const double allowed =
            shaped.measured
                ? processing::normalizationGain(*shaped.measured, std::numeric_limits<double>::infinity()).gainDb
                : 0.0;
        *steps = mp3::globalGainSteps(shaped.gain.gainDb, allowed);
        *summary = shaped.summary() + QStringLiteral("; the copy got %1 steps of 1.5 dB (%2 dB)")
                                          .arg(*steps)
                                          .arg(*steps * mp3::kGlobalGainStepDb, 0, 'f', 2);
        return {};
    }

    Failure encode(const Selection& selection, const ExportPlan& plan, PendingOutputFile& output,
                   const CopyHooks& hooks, ExportReport* report) override {
        std::unique_ptr<decode::AudioDecoder> otherFormat;
        const Result<decode::AudioDecoder*> source = decoderAt(plan.sampleRate, plan.channels, &otherFormat);
        if (!source) return source.failure();
        const auto [beginFrame, endFrame] = selection.frames(plan.sampleRate, (*source)->lengthFrames());
        if (endFrame <= beginFrame) return {err::NoSelection};
        return writeRange(**source, beginFrame, endFrame, plan, output, hooks, report);
    }

private:
    // The decoder at the rate and channels: the one held, or one opened into *otherFormat.
    Result<decode::AudioDecoder*> decoderAt(int sampleRate, int channels,
                                            std::unique_ptr<decode::AudioDecoder>* otherFormat) {
        if (decoder_->outputRate() == sampleRate && decoder_->outputChannels() == channels) return decoder_.get();
        Result<std::unique_ptr<decode::AudioDecoder>> opened = decode::AudioDecoder::open(path_, sampleRate, channels);
        if (!opened) return opened.failure();
        *otherFormat = std::move(*opened);
        return otherFormat->get();
    }

    const SourceTags& tags() {
        if (!tags_) tags_ = readSourceTags(path_);
        return *tags_;
    }
    Failure writeRange(decode::AudioDecoder& source, int64_t beginFrame, int64_t endFrame, const ExportPlan& plan,
                       PendingOutputFile& output, const CopyHooks& hooks, ExportReport* report);

    QString path_;
    std::unique_ptr<decode::AudioDecoder> decoder_;
    std::optional<SourceTags> tags_;  // read when first needed
};

Failure FfmpegSource::writeRange(decode::AudioDecoder& source, int64_t beginFrame, int64_t endFrame,
                                 const ExportPlan& plan, PendingOutputFile& output, const CopyHooks& hooks,
                                 ExportReport* report) {
    // The same envelope as "Play marked": measured on this decode of the piece, before
    // anything is written. A piece that is measured is read twice, so the measuring is
    // the first half of the progress.
    const int64_t total = endFrame - beginFrame;
    const int64_t measuredPart = plan.finish.shaping.normalizeToLufs ? total : 0;
    const auto progress = [&hooks, measuredPart, total](int64_t done) {
        if (hooks.progress) hooks.progress(done, measuredPart + total);
    };
    processing::ShapingPlan shaped;
    int32_t result = processing::planShaping(source, beginFrame, endFrame, plan.finish.shaping, hooks.cancelled,
                                             &shaped, [&progress](int64_t done, int64_t) { progress(done); });
    if (result != err::Ok) return {result};
    report->loudness = shaped.summary();
    const processing::PieceEnvelope& envelope = shaped.envelope;
    const int channels = source.outputChannels();
    Result<std::unique_ptr<EncodedFileWriter>> opened =
        EncodedFileWriter::open(output, plan.encoding, source.outputRate(), channels, withFields(tags(), plan.tags));
    if (!opened) return opened.failure();
    const std::unique_ptr<EncodedFileWriter> writer = std::move(*opened);
    // What the output's decoder drops goes in ahead of the piece: the sound before it,
    // and silence for what lies before the sound's start. A piece that fades in gets
    // silence there too, so that the encoder does not spread the sound before it into
    // the fade.
    const int64_t lead = writer->leadFrames();
    writer->announceLength(lead + endFrame - beginFrame);
    const int64_t leadFrom = envelope.fadeInFrames() > 0 ? beginFrame : std::max<int64_t>(0, beginFrame - lead);
    if ((result = source.seek(leadFrom)) != err::Ok) return {result};
    if ((result = writer->writeSilence(lead - (beginFrame - leadFrom))) != err::Ok) return {result};

    std::vector<float> chunk(size_t(kChunkFrames * channels));
    for (int64_t left = beginFrame - leadFrom; left > 0;) {
        const int64_t got = source.read(chunk.data(), std::min(kChunkFrames, left));
        if (got < 0) return {int32_t(got)};
        if (got == 0) break;  // nothing more to decode: the piece below finds none either
        envelope.apply(chunk.data(), channels, -left, got);
        if ((result = writer->write(chunk.data(), got)) != err::Ok) return {result};
        left -= got;
    }
    int64_t done = 0;
    while (done < total) {
        if (hooks.cancelled && hooks.cancelled()) return {err::UnknownError};
        const int64_t got = source.read(chunk.data(), std::min(kChunkFrames, total - done));
        if (got < 0) return {int32_t(got)};
        if (got == 0) break;  // the sound ended early: the file holds what was decoded
        envelope.apply(chunk.data(), channels, done, got);
        if ((result = writer->write(chunk.data(), got)) != err::Ok) return {result};
        done += got;
        progress(measuredPart + done);
    }
    if (done == 0) return {err::InvalidSoundFile, path_ + QStringLiteral(": nothing in the range could be decoded")};
    const int rate = source.outputRate();
    report->writtenMs = decode::framesToMs(done, rate);
    report->missingMs = decode::framesToMs(total - done, rate);
    report->concealedMs = decode::framesToMs(source.concealedFrames(), rate);
    report->damagedPackets = source.damagedPackets();
    return {writer->finish()};
}

}  // namespace

Result<std::unique_ptr<DecodedSource>> FfmpegCodecs::open(const QString& path) const {
    Result<std::unique_ptr<decode::AudioDecoder>> decoder =
        decode::AudioDecoder::open(path, kWorkingRate, kWorkingChannels);
    if (!decoder) return decoder.failure();
    if ((*decoder)->lengthFrames() <= 0)
        return Failure{err::InvalidSoundFile, files::FailedSoundFileText(path, QString())};
    return std::unique_ptr<DecodedSource>(std::make_unique<FfmpegSource>(path, std::move(*decoder)));
}

bool FfmpegCodecs::hasEncoder(const char* name) const { return avcodec_find_encoder_by_name(name) != nullptr; }

}  // namespace clipwren::soundeditor
