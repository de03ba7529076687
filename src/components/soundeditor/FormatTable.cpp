#include "components/soundeditor/FormatTable.h"

#include "components/errors/modSoundErrDesc.h"

#include <QFileInfo>

namespace clipwren::soundeditor {

int64_t aacBitRateForQuality(int quality, int channels) {
    return int64_t(channels) * (32000 + int64_t(quality - 1) * 96000 / 99);
}

bool needsSeekableOutput(const Encoding& encoding) {
    const QLatin1String muxer(encoding.muxer);
    return muxer == QLatin1String("mp4") || muxer == QLatin1String("ipod");
}

namespace {

bool isM4a(const QString& suffix) { return suffix == QLatin1String("m4a") || suffix == QLatin1String("m4r"); }

// Format code 1: the output file's own extension decides; unknown extensions get WAV.
Encoding encodingForExtension(const QString& outputPath, int channels) {
    const QString suffix = QFileInfo(outputPath).suffix().toLower();
    if (isM4a(suffix))
        return {.muxer = "ipod", .codec = "aac", .bitRate = aacBitRateForQuality(100, channels),
                .sampleExactEditList = true};
    if (suffix == QLatin1String("flac")) return {.muxer = "flac", .codec = "flac"};
    return {.muxer = "wav", .codec = "pcm_s16le", .largeFileAsRf64 = true};
}

int32_t chooseCodecAndContainer(const OutputFormatSettings& settings, const QString& outputPath, int channels,
                                Encoding* encoding) {
    switch (settings.FormatCode) {
    case format_code::ByExtension:
        if (settings.DefaultOptions.Mode != 1) return err::InvalidExportSettings;
        *encoding = encodingForExtension(outputPath, channels);
        return err::Ok;
    case format_code::Mp3: {
        const Mp3OptionGroup& mp3 = settings.Mp3Options;
        // Mode 1 constant bit rate, mode 0 average bit rate, both at BitRate.
        if ((mp3.Mode != 0 && mp3.Mode != 1) || mp3.BitRate <= 0) return err::InvalidExportSettings;
        *encoding = {.muxer = "mp3", .codec = "libmp3lame", .bitRate = mp3.BitRate, .averageBitRate = mp3.Mode == 0};
        return err::Ok;
    }
    case format_code::Wma:
        // WMA v2 is a constant bit rate codec: mode 1 only.
        if (settings.WmaOptions.Mode != 1 || settings.WmaOptions.BitRate <= 0) return err::InvalidExportSettings;
        *encoding = {.muxer = "asf", .codec = "wmav2", .bitRate = settings.WmaOptions.BitRate,
                     .decoderDropsFirstFrame = true};
        return err::Ok;
    case format_code::Ogg:
        // Mode 0: Vorbis's own quality scale, -1 (smallest) to 10 (best).
        if (settings.OggOptions.Mode != 0 || settings.OggOptions.Quality < -1 || settings.OggOptions.Quality > 10)
            return err::InvalidExportSettings;
        *encoding = {.muxer = "ogg", .codec = "libvorbis", .useQuality = true,
                     .quality = double(settings.OggOptions.Quality)};
        return err::Ok;
    case format_code::Aac: {
        const AacOptionGroup& aac = settings.AacOptions;
        if (aac.Mode != 0 || aac.Quality < 1 || aac.Quality > 100) return err::InvalidExportSettings;
        *encoding = {.muxer = aac.Mp4Container ? "mp4" : "adts", .codec = "aac",
                     .bitRate = aacBitRateForQuality(aac.Quality, channels),
                     .sampleExactEditList = aac.Mp4Container, .minimumEncodedFrames = aac.Mp4Container ? 0 : 3};
        return err::Ok;
    }
    case format_code::SourceEncoding: {
        const QString suffix = QFileInfo(outputPath).suffix().toLower();
        if (suffix == QLatin1String("mp3")) *encoding = {.muxer = "mp3", .codec = "libmp3lame"};
        else if (isM4a(suffix)) *encoding = {.muxer = "ipod", .codec = "aac"};
        else if (suffix == QLatin1String("mp4")) *encoding = {.muxer = "mp4", .codec = "aac"};
        else return err::NotAvailableForFormat;
        encoding->keepSourceEncoding = true;
        return err::Ok;
    }
    default:
        return err::InvalidExportSettings;
    }
}

}  // namespace

int32_t chooseEncoding(const OutputFormatSettings& settings, const QString& outputPath, int channels,
                       Encoding* encoding) {
    const int32_t chosen = chooseCodecAndContainer(settings, outputPath, channels, encoding);
    encoding->copyWhereAlike = settings.CopyWhereAlike;
    return chosen;
}

}  // namespace clipwren::soundeditor
