// Cuts that keep the source's encoding, the tags and cover every cut carries, and the
// fades and loudness that make a piece encoded anew (an MP3 only normalized is copied
// with its frames' global gain): one table, checked with the ffmpeg command line's
// gapless decoding (checking frame CRCs), its ebur128 meter and ffprobe.
#include "SoundEditorTestUtil.h"
#include "components/decode/AudioDecoder.h"

#include <QFile>
#include <QtEndian>
#include <set>

namespace {

using namespace soundeditortest;
namespace ts = testsupport;
namespace format_code = clipwren::format_code;

const std::pair<const char*, const char*> kTags[] = {
    {"title", "Tïtle ünïcode"}, {"artist", "Artist"}, {"album", "Album"}, {"album_artist", "Album Artist"},
    {"date", "2021"},           {"genre", "Rock"},    {"track", "3/12"},  {"comment", "Comment"}};

// Moves the movie's user data (where the cover is) before its track, as some taggers
// write it: FFmpeg then numbers the cover stream first.
void putUserDataFirst(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    auto boxSize = [&bytes](qsizetype at) { return qsizetype(qFromBigEndian<quint32>(bytes.constData() + at)); };
    auto boxType = [&bytes](qsizetype at) { return bytes.mid(at + 4, 4); };
    qsizetype moov = 0;
    while (boxType(moov) != "moov") moov += boxSize(moov);
    QByteArray header, userData, rest;  // the movie header stays first
    for (qsizetype at = moov + 8; at < moov + boxSize(moov); at += boxSize(at))
        (header.isEmpty() ? header : boxType(at) == "udta" ? userData : rest) += bytes.mid(at, boxSize(at));
    bytes.replace(moov + 8, header.size() + userData.size() + rest.size(), header + userData + rest);
    file.seek(0);
    file.write(bytes);
}

// Sources made once: 8 s of noise, so the encoders use their bit reservoir, tagged and
// with a front cover.
QString source(const QString& name) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (QFile::exists(path)) return path;
    const QString wav = dir.filePath("noise.wav");
    if (!QFile::exists(wav)) ts::writeWav(wav, 48000, 2, noise(2, 8 * 48000, 0.3f));
    if (name == "noise.wav") return wav;
    const QString cover = dir.filePath("cover.jpg");
    if (!QFile::exists(cover))
        ts::run("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x64", "-frames:v", "1", cover});
    if (name == "zeros.mp3") {
        // Zeros between the ID3v2 tag and the first frame: FFmpeg then takes the LAME
        // header frame for sound and trims nothing.
        QFile from(source("cbr128.mp3")), to(path);
        if (!from.open(QIODevice::ReadOnly) || !to.open(QIODevice::WriteOnly)) return path;
        QByteArray bytes = from.readAll();
        const auto tagEnd = 10 + (bytes[6] << 21 | bytes[7] << 14 | bytes[8] << 7 | bytes[9]);
        to.write(bytes.insert(tagEnd, QByteArray(1000, '\0')));
        return path;
    }
    QString from = wav;
    if (name == "crc22.mp3") {
        // MPEG-2 (22.05 kHz) frames with CRCs; FFmpeg's encoder writes none.
        from = dir.filePath("crc22-lame.mp3");
        ts::run("lame", {"--quiet", "-p", "--resample", "22.05", "-b", "64", wav, from});
    }
    const std::map<QString, QStringList> encodings = {
        {"cbr128.mp3", {"-ar", "44100", "-c:a", "libmp3lame", "-b:a", "128k"}},
        {"cbr320.mp3", {"-ar", "44100", "-c:a", "libmp3lame", "-b:a", "320k", "-id3v2_version", "3"}},
        {"vbr44.mp3", {"-ar", "44100", "-c:a", "libmp3lame", "-q:a", "2"}},
        {"cbr48.mp3", {"-ar", "48000", "-c:a", "libmp3lame", "-b:a", "128k"}},
        {"crc22.mp3", {"-c:a", "copy"}},
        {"vbr48.mp3", {"-ar", "48000", "-c:a", "libmp3lame", "-q:a", "4"}},
        // Noise substitution draws random noise, different in every decode.
        {"aac.m4a", {"-ar", "44100", "-c:a", "aac", "-b:a", "160k", "-aac_pns", "0"}},
        // An edit list that starts with 2.5 s of nothing: the track's timestamps start there.
        {"late.m4a", {"-ar", "44100", "-c:a", "aac", "-aac_pns", "0", "-output_ts_offset", "2.5"}},
        {"fragmented.m4a",
         {"-ar", "44100", "-c:a", "aac", "-aac_pns", "0", "-movflags", "frag_keyframe+empty_moov"}}};
    QStringList args{"-i", cover, "-map", "0:a", "-map", "1:v", "-c:v", "copy", "-disposition:v", "attached_pic"};
    for (const auto& [key, value] : kTags)
        args << "-metadata" << QStringLiteral("%1=%2").arg(key, QString::fromUtf8(value));
    args << "-metadata" << "TLEN=8000" << encodings.at(name);  // the whole sound's length (ID3v2)
    ts::ffmpegConvert(from, path, args);
    if (name.endsWith(".m4a")) putUserDataFirst(path);
    return path;
}

QByteArray decodeFloat(const QString& path) {
    const auto r =
        ts::run("ffmpeg", {"-v", "error", "-err_detect", "crccheck+explode", "-i", path, "-f", "f32le", "-"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    return r.out;
}

// The level of frames [from, to) of interleaved float samples, in dB.
double rmsDb(const QByteArray& samples, int64_t from, int64_t to) {
    const auto* values = reinterpret_cast<const float*>(samples.constData());
    double sum = 0;
    for (int64_t i = from * kChannels; i < to * kChannels; ++i) sum += double(values[i]) * values[i];
    return 10.0 * std::log10(sum / double((to - from) * kChannels) + 1e-30);
}

// Tags by lower-case name from the file and its sound stream; "cover" when a stream is
// a picture (whose own tags are left out).
std::map<std::string, std::string> probeTags(const QString& path) {
    const auto r = ts::run("ffprobe", {"-v", "error", "-show_entries",
                                       "format_tags:stream_tags:stream_disposition=attached_pic", "-of", "flat", path});
    std::map<QByteArray, std::map<std::string, std::string>> places;  // "format" or "streams.stream.N"
    std::set<QByteArray> pictures;
    for (const QByteArray& line : r.out.split('\n')) {
        const int eq = line.indexOf('='), tagsAt = line.indexOf(".tags.");
        const QByteArray value = line.mid(eq + 1);
        if (line.left(eq).endsWith(".disposition.attached_pic") && value == "1")
            pictures.insert(line.left(line.indexOf(".disposition")));
        if (tagsAt > 0) places[line.left(tagsAt)][line.mid(tagsAt + 6, eq - tagsAt - 6).toLower().toStdString()] =
            value.mid(1, value.size() - 2).toStdString();
    }
    std::map<std::string, std::string> tags;
    for (const auto& [place, values] : places)
        if (!pictures.count(place)) tags.insert(values.begin(), values.end());
    if (!pictures.empty()) tags["cover"] = "yes";
    return tags;
}

// The copied frames are the source's bytes: everything after the header frame, the lead
// frame (the first packet ffprobe lists that codes more than silence) and before the
// silent frames at the end lies in the source as it is; with a gain, but for each frame's
// side info and CRC (at most 34 bytes after its header).
bool framesAreTheSources(const QString& output, const QString& input, bool gained) {
    const auto r = ts::run("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries", "packet=size,pos",
                                       "-of", "csv=p=0", output});
    std::vector<std::pair<qint64, qint64>> packets;  // pos, size
    for (const QByteArray& line : r.out.split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() >= 2 && !fields[0].isEmpty())
            packets.emplace_back(fields[1].toLongLong(), fields[0].toLongLong());
    }
    QFile out(output), in(input);
    if (!out.open(QIODevice::ReadOnly) || !in.open(QIODevice::ReadOnly)) return false;
    const QByteArray all = out.readAll();
    const auto silent = [&all](const std::pair<qint64, qint64>& packet) {
        const QByteArray payload = all.mid(packet.first + 4, packet.second - 4);
        return payload.count('\0') == payload.size();
    };
    while (!packets.empty() && silent(packets.front())) packets.erase(packets.begin());
    while (!packets.empty() && silent(packets.back())) packets.pop_back();
    if (packets.size() < 2) return false;
    const qint64 end = packets.back().first + packets.back().second;
    const QByteArray copied = all.mid(packets[1].first, end - packets[1].first);
    const QByteArray source = in.readAll();
    if (!gained) return source.indexOf(copied) > 0;
    constexpr qint64 kHeader = 4, kUntouched = kHeader + 2 + 32;
    // The first copied frame's main data places the copy in the source.
    const qint64 at = source.indexOf(copied.mid(kUntouched, packets[1].second - kUntouched)) - kUntouched;
    if (at <= 0 || at + copied.size() > source.size()) return false;
    for (size_t k = 1; k < packets.size(); ++k) {
        const qint64 frame = packets[k].first - packets[1].first, size = packets[k].second;
        if (source.mid(at + frame, kHeader) != copied.mid(frame, kHeader) ||
            source.mid(at + frame + kUntouched, size - kUntouched) != copied.mid(frame + kUntouched, size - kUntouched))
            return false;
    }
    return true;
}

struct CopyCase {
    const char* name;
    const char* source;
    int32_t beginMs, endMs;  // an end past the sound: to its end
    const char* output;      // suffix
    // The window's settings for the output's name (MP3: 128 kbit/s CBR, 44.1 kHz stereo);
    // the same at 48 kHz; or format code 7, the source's own encoding.
    enum Settings { Window, Window48k, Kept } settings;
    bool copied;
    int32_t result = err::Ok;
    // WAV's INFO chunk has no album artist; a fragmented MP4 keeps its cover only as a video track.
    enum Tags { AllTagsAndCover, NoAlbumArtist, NoCover } tags = AllTagsAndCover;
    // Fades and loudness, as "Play marked" plays them: never copied, but an MP3 only normalized.
    clipwren::processing::Shaping shaping = {};
};

void PrintTo(const CopyCase& c, std::ostream* os) { *os << c.name; }

class KeepEncoding : public SoundEditorTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(KeepEncoding, CopiesExactlyWhereItCanAndCarriesTheTags) {
    const CopyCase c = GetParam();
    const QString input = source(c.source);
    const QString output = dir.filePath(QStringLiteral("piece") + c.output);
    ASSERT_EQ(load(input), err::Ok);
    ASSERT_EQ(crop(c.beginMs, c.endMs), err::Ok);
    clipwren::SetOutputFormatForPath(editor.OutputFormat(), output);
    if (c.settings == CopyCase::Kept) editor.OutputFormat().FormatCode = format_code::SourceEncoding;
    editor.SetPieceShaping(c.shaping);
    const int rate = c.settings == CopyCase::Window48k ? 48000 : kRate;
    ASSERT_EQ(waitFor(&SoundEditor::ExportCompleted, editor.ExportFile(rate, kChannels, 0, 0, -1, output)), c.result);
    const clipwren::ExportReport& report = editor.LastExportReport();
    EXPECT_EQ(report.copied, c.copied) << report.reason.toStdString();
    EXPECT_EQ(report.reason.isEmpty(), c.copied) << report.reason.toStdString();
    if (c.result != err::Ok) {
        EXPECT_EQ(filesIn(dir.path()), QStringList{});
        return;
    }

    // The piece of the source's own decode, in frames at the source's rate.
    const QByteArray whole = decodeFloat(input);
    const int sourceRate = std::stoi(ts::ffprobe(input).at("sample_rate"));
    const int64_t frameBytes = 4 * kChannels;
    const int64_t begin = framesAt(c.beginMs, sourceRate);
    const int64_t end = std::min<int64_t>(framesAt(c.endMs, sourceRate), whole.size() / frameBytes);
    const QByteArray expected = whole.mid(begin * frameBytes, (end - begin) * frameBytes);
    const QByteArray piece = decodeFloat(output);
    if (c.copied && QString(c.output) == ".mp3" && c.shaping.normalizeToLufs) {
        // The source's decode times 2^(steps/4), steps read off the levels and said by --verbose.
        ASSERT_EQ(piece.size(), expected.size());
        const int64_t frames = end - begin;
        const int steps = int(std::lround((rmsDb(piece, 0, frames) - rmsDb(expected, 0, frames)) / 1.50515));
        EXPECT_NE(steps, 0);
        EXPECT_TRUE(report.loudness.contains(QStringLiteral("the copy got %1 steps").arg(steps)))
            << report.loudness.toStdString();
        const auto* got = reinterpret_cast<const float*>(piece.constData());
        const auto* source = reinterpret_cast<const float*>(expected.constData());
        const double gain = std::pow(2.0, steps / 4.0);
        double worst = 0;
        for (int64_t i = 0; i < frames * kChannels; ++i) worst = std::max(worst, std::abs(got[i] - source[i] * gain));
        EXPECT_LT(worst, 1e-5) << "not the source's decode times the gain";
        EXPECT_TRUE(framesAreTheSources(output, input, true));
    } else if (c.copied && QString(c.output) == ".mp3") {
        EXPECT_EQ(piece.size() / frameBytes, end - begin);
        EXPECT_TRUE(piece == expected) << "the decoded piece differs from the source's decode";
        EXPECT_TRUE(framesAreTheSources(output, input, false));
    } else if (QString(c.output) != ".mp3" && QString(c.source).endsWith(".m4a")) {
        // AAC: the edit list holds exactly the piece; FFmpeg honours only its start, our decoder both ends.
        EXPECT_EQ(declaredFrames(output), end - begin);
        const auto ours = clipwren::decode::AudioDecoder::open(output, 0, 0);
        ASSERT_TRUE(ours) << ours.failure().code;
        EXPECT_EQ((*ours)->lengthFrames(), end - begin);
        EXPECT_FALSE(piece.isEmpty());
        if (c.copied) {
            EXPECT_TRUE(piece.left(expected.size()) == expected) << "the decoded piece differs from the source's decode";
        }
    } else if (QString(c.output) == ".mp3") {
        EXPECT_EQ(piece.size() / frameBytes, framesAt(c.endMs, rate) - framesAt(c.beginMs, rate));
    }

    if (c.copied) {
        EXPECT_GT(probeNumber(ts::ffprobe(output), "format_probe_score"), 25) << "FFmpeg's probe is not sure of it";
    }
    const clipwren::processing::Fades& fades = c.shaping.fades;
    if (fades.inSeconds > 0 || fades.outSeconds > 0) {
        // The ends of the piece against its steady middle: silent at its first and last
        // 10 ms, and halfway through each fade 12 dB down, the square of half the amplitude.
        const int64_t frames = framesAt(c.endMs) - framesAt(c.beginMs);
        const int64_t window = framesAt(10);
        const double middle = rmsDb(piece, frames / 2 - kRate / 2, frames / 2 + kRate / 2);
        const int64_t fadeIn = int64_t(fades.inSeconds * kRate), fadeOut = int64_t(fades.outSeconds * kRate);
        EXPECT_LT(rmsDb(piece, 0, window), middle - 30);
        EXPECT_LT(rmsDb(piece, frames - window, frames), middle - 30);
        EXPECT_NEAR(rmsDb(piece, fadeIn / 2 - window / 2, fadeIn / 2 + window / 2), middle - 12, 2);
        EXPECT_NEAR(rmsDb(piece, frames - fadeOut / 2 - window / 2, frames - fadeOut / 2 + window / 2), middle - 12, 2);
    }
    if (const std::optional<double> target = c.shaping.normalizeToLufs) {
        // White noise this loud peaks too high for some targets: then the gain is lowered.
        const bool peakLimited = std::string(c.name).ends_with("_peak_limited");
        EXPECT_EQ(report.loudness.contains("lowered"), peakLimited) << report.loudness.toStdString();
        const ts::LoudnessReading heard = ts::ffmpegLoudness(output);
        EXPECT_LE(heard.truePeakDbtp, -1.0);
        if (peakLimited)
            EXPECT_LT(heard.integratedLufs, *target - 0.5);
        else  // a copy's gain moves in steps of 1.5 dB: the nearest is within half of one
            EXPECT_NEAR(heard.integratedLufs, *target, c.copied ? 0.8 : 0.5);
    }
    const auto tags = probeTags(output);
    for (const auto& [key, value] : kTags) {
        if (c.tags == CopyCase::NoAlbumArtist && key == std::string("album_artist")) continue;
        EXPECT_EQ(tags.count(key) ? tags.at(key) : "", value) << key;
    }
    EXPECT_EQ(tags.count("cover"), c.tags == CopyCase::AllTagsAndCover ? 1u : 0u);
    EXPECT_EQ(tags.count("tlen"), 0u) << "the source's length is not the piece's";
}

INSTANTIATE_TEST_SUITE_P(
    Sources, KeepEncoding,
    ::testing::Values(
        // The window's own settings (MP3 128 kbit/s CBR, 44.1 kHz stereo) copy a source like them.
        CopyCase{"cbr128", "cbr128.mp3", 1234, 5678, ".mp3", CopyCase::Window, true},
        CopyCase{"cbr128_start", "cbr128.mp3", 0, 3000, ".mp3", CopyCase::Window, true},
        CopyCase{"cbr128_end", "cbr128.mp3", 5000, 99999, ".mp3", CopyCase::Window, true},
        // 441 samples within one frame (LAME's 576 and FFmpeg's 529 samples of delay put
        // 2 s at 601 samples into frame 77): encoded anew, still exact.
        CopyCase{"within_one_frame", "cbr128.mp3", 2000, 2010, ".mp3", CopyCase::Window, false},
        CopyCase{"cbr320_window", "cbr320.mp3", 1000, 4000, ".mp3", CopyCase::Window, false},
        CopyCase{"cbr320_kept", "cbr320.mp3", 1000, 4000, ".mp3", CopyCase::Kept, true},
        CopyCase{"vbr44", "vbr44.mp3", 2500, 6500, ".mp3", CopyCase::Window, true},
        CopyCase{"cbr48", "cbr48.mp3", 333, 7777, ".mp3", CopyCase::Window48k, true},
        CopyCase{"vbr48_kept_to_end", "vbr48.mp3", 4321, 99999, ".mp3", CopyCase::Kept, true},
        // Six frames would tie with other formats in FFmpeg's probe.
        CopyCase{"cbr128_last_50_ms", "cbr128.mp3", 7950, 99999, ".mp3", CopyCase::Window, true},
        CopyCase{"cbr128_zeros_after_tag", "zeros.mp3", 1000, 2000, ".mp3", CopyCase::Window, true},
        CopyCase{"aac_m4a", "aac.m4a", 1234, 5678, ".m4a", CopyCase::Window, true},
        CopyCase{"aac_kept_mp4", "aac.m4a", 0, 2500, ".mp4", CopyCase::Kept, true},
        CopyCase{"aac_starting_late", "late.m4a", 3000, 5000, ".m4a", CopyCase::Window, true},
        CopyCase{"aac_begin_before_the_late_start", "late.m4a", 1000, 2000, ".m4a", CopyCase::Window, true},
        CopyCase{"aac_fragmented", "fragmented.m4a", 1234, 5678, ".m4a", CopyCase::Kept, true, err::Ok,
                 CopyCase::NoCover},
        // FFmpeg's MP4 reader gives nothing of an edit within one packet: encoded anew, or refused.
        CopyCase{"aac_within_one_frame", "aac.m4a", 5000, 5001, ".m4a", CopyCase::Window, false},
        CopyCase{"aac_within_one_frame_kept", "aac.m4a", 10, 20, ".m4a", CopyCase::Kept, false,
                 err::NotAvailableForFormat},
        CopyCase{"aac_to_mp3", "aac.m4a", 1000, 3000, ".mp3", CopyCase::Window, false},
        CopyCase{"mp3_to_m4a", "cbr128.mp3", 1000, 3000, ".m4a", CopyCase::Window, false},
        CopyCase{"mp3_to_ogg", "cbr128.mp3", 1000, 3000, ".ogg", CopyCase::Window, false},
        CopyCase{"mp3_to_flac", "cbr128.mp3", 1000, 3000, ".flac", CopyCase::Window, false},
        CopyCase{"mp3_to_wma", "cbr128.mp3", 1000, 3000, ".wma", CopyCase::Window, false},
        CopyCase{"mp3_to_wav", "cbr128.mp3", 1000, 3000, ".wav", CopyCase::Window, false, err::Ok,
                 CopyCase::NoAlbumArtist},
        CopyCase{"wav_kept", "noise.wav", 1000, 3000, ".mp3", CopyCase::Kept, false, err::NotAvailableForFormat},
        // Loudness alone: an MP3 copied with its frames' global gain lowered (MPEG-1), or
        // raised as far as the true peak allows (MPEG-2 with CRCs); fades: encoded anew.
        CopyCase{"cbr128_normalized", "cbr128.mp3", 1234, 5678, ".mp3", CopyCase::Window, true, err::Ok,
                 CopyCase::AllTagsAndCover, {{}, -16.0}},
        CopyCase{"crc22_kept_normalized_peak_limited", "crc22.mp3", 1000, 7000, ".mp3", CopyCase::Kept, true, err::Ok,
                 CopyCase::AllTagsAndCover, {{}, -5.0}},
        CopyCase{"cbr128_faded_and_normalized", "cbr128.mp3", 1234, 5678, ".mp3", CopyCase::Window, false, err::Ok,
                 CopyCase::AllTagsAndCover, {{0.5, 0.5}, -16.0}},
        CopyCase{"aac_faded_and_normalized", "aac.m4a", 1000, 7000, ".m4a", CopyCase::Window, false, err::Ok,
                 CopyCase::AllTagsAndCover, {{0.5, 1.0}, -14.0}},
        CopyCase{"mp3_to_wav_faded", "cbr128.mp3", 1000, 4000, ".wav", CopyCase::Window, false, err::Ok,
                 CopyCase::NoAlbumArtist, {{1.0, 0.3}, {}}},
        CopyCase{"mp3_to_wav_peak_limited", "cbr128.mp3", 1000, 4000, ".wav", CopyCase::Window, false, err::Ok,
                 CopyCase::NoAlbumArtist, {{}, -5.0}},
        CopyCase{"cbr128_kept_faded", "cbr128.mp3", 1000, 3000, ".mp3", CopyCase::Kept, false,
                 err::NotAvailableForFormat, CopyCase::AllTagsAndCover, {{1.0, 0.0}, {}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
