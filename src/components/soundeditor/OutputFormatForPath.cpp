#include "components/soundeditor/OutputFormatForPath.h"

namespace clipwren {

void SetOutputFormatForPath(OutputFormatSettings& format, const QString& outputPath) {
    const QString extension = outputPath.right(3).toLower();
    if (extension == QLatin1String("mp3")) {
        format.FormatCode = format_code::Mp3;
        format.Mp3Options.Mode = 1;
        format.Mp3Options.BitRate = 128000;
    } else if (extension == QLatin1String("wma")) {
        format.FormatCode = format_code::Wma;
        format.WmaOptions.Mode = 1;
        format.WmaOptions.BitRate = 128000;
    } else if (extension == QLatin1String("aac") || extension == QLatin1String("mp4")) {
        format.FormatCode = format_code::Aac;
        format.AacOptions.Mode = 0;
        format.AacOptions.Mp4Container = extension == QLatin1String("mp4");
        format.AacOptions.Quality = 100;
    } else if (extension == QLatin1String("ogg")) {
        format.FormatCode = format_code::Ogg;
        format.OggOptions.Mode = 0;
        format.OggOptions.Quality = 4;
    } else {
        format.FormatCode = format_code::ByExtension;
        format.DefaultOptions.Mode = 1;
    }
}

OutputFormatSettings OutputFormatFor(const QString& outputPath, CopyRule copy) {
    OutputFormatSettings format;
    SetOutputFormatForPath(format, outputPath);
    if (copy == CopyRule::Always) format.FormatCode = format_code::SourceEncoding;
    format.CopyWhereAlike = copy != CopyRule::Never;
    return format;
}

}  // namespace clipwren
