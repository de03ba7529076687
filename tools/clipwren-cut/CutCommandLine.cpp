#include "CutCommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <cmath>

#include "components/files/LocalFileName.h"
#include "components/processing/Loudness.h"
#include "core/OutputLocation.h"
#include "core/modTimeText.h"

namespace clipwren::cut {

std::optional<int32_t> parseCutTime(const QString& text) {
    // No cut starts or ends before the sound does. Checked on the text: a minus sign on
    // a zero field would otherwise be lost with it ("-00:01:000" read as +1 s).
    if (text.contains(QLatin1Char('-'))) return std::nullopt;
    static const QRegularExpression seconds(QStringLiteral("^\\d+(\\.\\d*)?$"));
    if (seconds.match(text).hasMatch()) {
        bool ok = false;
        const double ms = std::round(text.toDouble(&ok) * 1000.0);
        if (!ok || ms > double(std::numeric_limits<int32_t>::max())) return std::nullopt;
        return static_cast<int32_t>(ms);
    }
    return ParseTimeText(text);
}

QStringList argumentsOf(int argc, char** argv) {
#ifdef Q_OS_WIN
    (void)argc;
    (void)argv;
    return QCoreApplication::arguments();
#else
    // Each argument's bytes as they are: a file name that is not valid UTF-8 still names
    // its file (QCoreApplication::arguments() would put U+FFFD in its place).
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << files::decodeFileName(QByteArray(argv[i]));
    return arguments;
#endif
}

QString defaultOutputPath(const QString& input) {
    // The window's store and default, read under the window program's name, not ours.
    const QString folder = OutputLocation::storedFolder(*OutputLocation::userStore());
    // The window always has a full path; a bare "song" would otherwise name nothing.
    return OutputLocation::defaultOutputPath(folder, QFileInfo(input).absoluteFilePath());
}

namespace {
const QString kNormalize = QStringLiteral("--normalize");
}  // namespace

CommandLine parseCommandLine(const QStringList& givenArgs) {
    // --normalize takes its target only as --normalize=LUFS, which the parser cannot say.
    QStringList args;
    std::optional<QString> normalize;
    for (const QString& arg : givenArgs) {
        if (arg == kNormalize || arg.startsWith(kNormalize + QLatin1Char('=')))
            normalize = arg.mid(kNormalize.size() + 1);
        else
            args << arg;
    }
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption begin(QStringList{"b", "begin"}, QString(), QStringLiteral("TIME"));
    const QCommandLineOption end(QStringList{"e", "end"}, QString(), QStringLiteral("TIME"));
    const QCommandLineOption output(QStringList{"o", "output"}, QString(), QStringLiteral("FILE"));
    const QCommandLineOption copy(QStringLiteral("copy"));
    const QCommandLineOption reencode(QStringLiteral("reencode"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    const QCommandLineOption fadeIn(QStringLiteral("fade-in"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption fadeOut(QStringLiteral("fade-out"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption help(QStringList{"h", "help"});
    const QCommandLineOption version(QStringList{"v", "version"});
    const QCommandLineOption list(QStringLiteral("list"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption cue(QStringLiteral("cue"), QString(), QStringLiteral("SHEET"));
    const QCommandLineOption jobs(QStringList{"j", "jobs"}, QString(), QStringLiteral("N"));
    parser.addOptions({begin, end, output, fadeIn, fadeOut, copy, reencode, verbose, list, cue, jobs, help, version});

    CommandLine result;
    auto usageError = [&result](const QString& message) {
        result.action = CommandLine::Action::UsageError;
        result.error = message;
        return result;
    };
    if (!parser.parse(args)) return usageError(parser.errorText());
    if (parser.isSet(help)) {
        result.action = CommandLine::Action::Help;
        return result;
    }
    if (parser.isSet(version)) {
        result.action = CommandLine::Action::Version;
        return result;
    }
    const QStringList inputs = parser.positionalArguments();
    if (parser.isSet(copy) && parser.isSet(reencode))
        return usageError(QStringLiteral("--copy and --reencode exclude each other."));
    CutRequest& request = result.request;
    request.keepEncoding = parser.isSet(copy);
    request.encodeAnew = parser.isSet(reencode);
    request.verbose = parser.isSet(verbose);
    processing::Shaping& shaping = request.shaping;
    for (const auto& [option, target] :
         {std::pair{&fadeIn, &shaping.fades.inSeconds}, std::pair{&fadeOut, &shaping.fades.outSeconds}}) {
        if (!parser.isSet(*option)) continue;
        bool ok = false;
        *target = parser.value(*option).toDouble(&ok);
        if (!ok || !(*target >= 0 && *target <= processing::kMaxFadeSeconds))
            return usageError(QStringLiteral("Not a fade length: \"%1\" (seconds from 0 to 10).")
                                  .arg(parser.value(*option)));
    }
    if (normalize) {
        bool ok = true;
        const double target = normalize->isEmpty() ? processing::kDefaultTargetLufs : normalize->toDouble(&ok);
        if (!ok || !(target >= processing::kLowestTargetLufs && target <= processing::kHighestTargetLufs))
            return usageError(QStringLiteral("Not a loudness target: \"%1\" (LUFS from -40 to -5).").arg(*normalize));
        shaping.normalizeToLufs = target;
    }
    if (parser.isSet(copy) && !(shaping.fades == processing::Fades{}))
        return usageError(QStringLiteral("--copy keeps the source's encoding: fades need the piece encoded anew."));
    // The tracks of a sheet join up without a gap: a fade or a gain of each would break that.
    if (parser.isSet(cue) && shaping.any())
        return usageError(QStringLiteral("--cue cuts tracks that join up: no fades or --normalize beside it."));
    if (parser.isSet(list) || parser.isSet(cue)) {
        if (parser.isSet(list) && parser.isSet(cue))
            return usageError(QStringLiteral("--list and --cue exclude each other."));
        if (!inputs.isEmpty() || parser.isSet(begin) || parser.isSet(end) || (parser.isSet(list) && parser.isSet(output)))
            return usageError(parser.isSet(list) ? QStringLiteral("--list takes every cut from its file: no INPUT, "
                                                                  "--begin, --end or --output beside it.")
                                                 : QStringLiteral("--cue takes every cut from its sheet: no INPUT, "
                                                                  "--begin or --end beside it."));
        BatchRequest& batch = result.batch;
        batch.list = parser.value(list);
        batch.cueSheet = parser.value(cue);
        batch.outputFolder = parser.value(output);
        if (batch.list.isEmpty() && batch.cueSheet.isEmpty())
            return usageError(QStringLiteral("The list's or sheet's file name is empty."));
        if (parser.isSet(output) && batch.outputFolder.isEmpty())
            return usageError(QStringLiteral("The output folder's name is empty."));
        batch.jobs = QThread::idealThreadCount();
        if (parser.isSet(jobs)) {
            bool ok = false;
            batch.jobs = parser.value(jobs).toInt(&ok);
            if (!ok || batch.jobs < 1)
                return usageError(QStringLiteral("Not a number of cuts at once: \"%1\".").arg(parser.value(jobs)));
        }
        batch.options = request;
        result.action = CommandLine::Action::Batch;
        return result;
    }
    if (parser.isSet(jobs)) return usageError(QStringLiteral("-j goes with --list or --cue."));
    if (inputs.size() != 1 || inputs.front().isEmpty())
        return usageError(inputs.isEmpty() ? QStringLiteral("No input file given.")
                                           : QStringLiteral("Give exactly one input file."));

    request.input = inputs.front();
    std::optional<int32_t> times[2];
    for (int i : {0, 1}) {
        const QCommandLineOption& option = i == 0 ? begin : end;
        if (!parser.isSet(option)) continue;
        const QString text = parser.value(option);
        if (!(times[i] = parseCutTime(text)))
            return usageError(QStringLiteral("Not a valid time: \"%1\" (mm:ss:mmm or seconds such as 83.456).")
                                  .arg(text));
    }
    request.range = {times[0].value_or(0), times[1], 1000};
    if (times[1] && request.range.begin >= *times[1]) {
        const auto seconds = [](int64_t ms) { return QString::number(double(ms) / 1000.0, 'f', 3); };
        return usageError(QStringLiteral("The begin (%1 s) is not before the end (%2 s).")
                              .arg(seconds(request.range.begin), seconds(*times[1])));
    }
    request.output = parser.isSet(output) ? parser.value(output) : defaultOutputPath(request.input);
    if (request.output.isEmpty()) return usageError(QStringLiteral("The output file name is empty."));
    result.action = CommandLine::Action::Cut;
    return result;
}

// Each option listed here has its entry under OPTIONS in clipwren-cut.1 beside this file,
// in the same order and spelling; a test compares the two lists.
QString helpText() {
    return QStringLiteral(
        "Usage: clipwren-cut INPUT [--begin TIME] [--end TIME] [--output FILE]\n"
        "                    [--fade-in SECONDS] [--fade-out SECONDS] [--normalize[=LUFS]]\n"
        "                    [--copy | --reencode] [--verbose]\n"
        "       clipwren-cut --list FILE [-j N] [--fade-in SECONDS] [--fade-out SECONDS]\n"
        "                    [--normalize[=LUFS]] [--copy | --reencode] [--verbose]\n"
        "       clipwren-cut --cue SHEET [--output FOLDER] [-j N] [--copy | --reencode]\n"
        "                    [--verbose]\n"
        "\n"
        "Cuts the piece from TIME to TIME out of an audio file and saves it, the way\n"
        "Clipwren Pro's \"Save selection\" does.\n"
        "\n"
        "  -b, --begin TIME   start of the piece (default: the start of the sound)\n"
        "  -e, --end TIME     end of the piece (default: the end of the sound)\n"
        "  -o, --output FILE  the file to write; its extension chooses the encoding:\n"
        "                     .mp3 (128 kbit/s), .wma, .aac, .mp4, .ogg, .m4a, .wav\n"
        "                     (default: the output folder of Clipwren Pro, the input's\n"
        "                     name followed by \"-part.mp3\"); - is standard output,\n"
        "                     which gets WAV\n"
        "      --fade-in SECONDS\n"
        "                     fade the piece in over its first SECONDS (0 to 10)\n"
        "      --fade-out SECONDS\n"
        "                     fade it out over its last SECONDS; a fade longer than\n"
        "                     half the piece is shortened to half\n"
        "      --normalize[=LUFS]\n"
        "                     bring the piece's loudness (EBU R128) to LUFS, -14 when\n"
        "                     not given, its true peak kept at or under -1 dBTP; a\n"
        "                     copied MP3 gets the gain in whole steps of 1.5 dB\n"
        "      --copy         keep the source's encoding: an MP3 is cut to .mp3, AAC in\n"
        "                     an MP4, M4A or M4R file to .m4a, .m4r or .mp4, without\n"
        "                     encoding it again; anything else fails\n"
        "      --reencode     encode anew even where the cut could be copied\n"
        "      --verbose      say whether the cut was copied or encoded anew, the\n"
        "                     loudness measured and the gain given, and show\n"
        "                     FFmpeg's own messages as they come (without it they are\n"
        "                     shown only when the cut fails)\n"
        "      --list FILE    make every cut listed in FILE (- reads standard input),\n"
        "                     one a line: INPUT BEGIN END OUTPUT, separated by tabs,\n"
        "                     or by spaces where the line has no tab; empty lines and\n"
        "                     lines starting with # are passed over\n"
        "      --cue SHEET    cut the sound file of a cue sheet into its tracks, each\n"
        "                     from its INDEX 01 to the next track's, so that they join\n"
        "                     up without a sample lost or doubled; named \"NN -\n"
        "                     PERFORMER - TITLE\" and tagged from the sheet, in the\n"
        "                     folder --output names (default: the sheet's); an MP3 is\n"
        "                     cut to .mp3 and AAC to .m4a keeping their encoding\n"
        "                     (unless --reencode), anything else to .wav; SHEET may be\n"
        "                     a FLAC file that carries its sheet in a CUESHEET tag\n"
        "  -j, --jobs N       with --list or --cue: how many cuts run at once (default:\n"
        "                     one for each processor)\n"
        "  -h, --help         show this text\n"
        "  -v, --version      show the version\n"
        "\n"
        "TIME is minutes, seconds and milliseconds as mm:ss:mmm (01:23:456), or seconds\n"
        "(83.456).\n"
        "\n"
        "Without --copy a cut is copied by itself where the output's settings are the\n"
        "source's (an MP3 of 128 kbit/s, 44.1 kHz stereo to .mp3; AAC in MP4 to .m4a).\n"
        "A copied cut loses nothing and is exact to the sample. Fades need the piece\n"
        "encoded anew; --normalize alone keeps an MP3 copied, moving its frames' gain\n"
        "in steps of 1.5 dB.\n"
        "\n"
        "Exit status: 0 when the file was written, 1 when the cut failed, 2 for a wrong\n"
        "command line (a begin at or after the end among it), 128 + the signal's number\n"
        "when interrupted. A failed or interrupted cut leaves no partial file, and an\n"
        "existing file at the output name stays as it was. The input itself is never\n"
        "written over. A link is written through to its file; a pipe or device is\n"
        "written straight into\n"
        "(not as MP4 or M4A, which must go back over what they wrote). A damaged input\n"
        "is cut as the ffmpeg command line decodes it, lost audio as silence of its\n"
        "length; the cut then prints a warning saying how much, as it does when the\n"
        "sound ends before the end of the range.\n"
        "\n"
        "With --list or --cue, the exit status is 0 when every cut was written and 1\n"
        "when any failed; each failure is told with the number of its line or track,\n"
        "and the other cuts are made all the same.\n");
}

QString versionText() { return QStringLiteral("clipwren-cut " CLIPWREN_VERSION "\n"); }

}  // namespace clipwren::cut
