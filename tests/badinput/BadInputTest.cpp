// Broken, odd and hostile inputs and outputs for the cutter. Every case either cuts
// what it can or fails with the component's message; none crashes, hangs, leaves a
// partial file or touches a file already at the output name.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "CutToolProcess.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/files/LocalFileName.h"
#include "components/player/SoundPlayer.h"
#include "core/OutputLocation.h"
#include "support/SoundOutputFake.h"
#include "support/TestSupport.h"

using cuttooltest::CutRun;
using cuttooltest::entriesOf;
using cuttooltest::runCut;

namespace {

constexpr int kRate = 44100;
const QByteArray kEarlierWork = "an earlier ringtone";

// Through the file's own bytes, so that names that are not valid UTF-8 work too.
void writeBytes(const QString& path, const QByteArray& bytes) {
    std::ofstream file(clipwren::files::fileSystemPath(path), std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file) << path.toStdString();
    file.write(bytes.constData(), bytes.size());
}

QByteArray readBytes(const QString& path) {
    std::ifstream file(clipwren::files::fileSystemPath(path), std::ios::binary);
    return file ? QByteArray::fromStdString(std::string(std::istreambuf_iterator<char>(file), {})) : QByteArray();
}

void truncateTo(const QString& path, qint64 size) { ASSERT_TRUE(QFile::resize(path, size)); }

void makeWithFfmpeg(const QString& output, const QStringList& encoderArgs, double seconds = 10) {
    const QStringList args = QStringList{"-v", "error", "-y", "-f", "lavfi", "-i",
                                         QString("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds),
                                         "-ac", "2"} +
                             encoderArgs + QStringList{output};
    const auto result = testsupport::run("ffmpeg", args);
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
}

// True when a line of the message ends in one of the component's error texts.
bool carriesComponentMessage(const QByteArray& err) {
    for (const QString& line : QString::fromUtf8(err).split(QLatin1Char('\n'))) {
        for (int32_t code = -1; code >= -120; --code) {
            const QString description = clipwren::GetErrorDescription(code);
            if (!description.isEmpty() && line.trimmed().endsWith(description)) return true;
        }
    }
    return false;
}

bool hasByteName(const QString& path) { return clipwren::files::encodeFileName(path) != path.toUtf8(); }

// The ffmpeg command line reads a copy under a plain name: QProcess cannot pass a name
// that is not valid UTF-8.
QString plainNamed(const QString& path) {
    if (!hasByteName(path)) return path;
    static const QTemporaryDir plainCopies;
    const QString copy = plainCopies.filePath(QStringLiteral("plain"));
    std::filesystem::copy_file(clipwren::files::fileSystemPath(path), clipwren::files::fileSystemPath(copy),
                               std::filesystem::copy_options::overwrite_existing);
    return copy;
}

std::vector<int16_t> decodedStereo(const QString& path) {
    return testsupport::ffmpegDecode(plainNamed(path), kRate, 2);
}
int64_t frameCount(const QString& path) { return int64_t(decodedStereo(path).size()) / 2; }

class BadInput : public ::testing::Test {
protected:
    void SetUp() override {
        outDir = dir.filePath("out");
        QDir().mkpath(outDir);
        output = outDir + "/result.wav";
        writeBytes(output, kEarlierWork);
    }

    QString path(const QString& name) const { return dir.filePath(name); }

    // Runs a whole-file cut of input into output. A failure must be clean: the
    // component's message, the earlier file untouched, nothing else in the folder.
    CutRun cut(const QString& input, const cuttooltest::CutOptions& options = {}, const QStringList& range = {}) {
        const QStringList args = QStringList{input, "--output", output} + range;
        QList<QByteArray> raw;
        for (const QString& arg : args) raw << clipwren::files::encodeFileName(arg);
        const CutRun run = hasByteName(input) || hasByteName(output) ? cuttooltest::runCutWithRawArguments(raw)
                                                                     : runCut(args, options);
        EXPECT_FALSE(run.timedOut) << "hangs";
        EXPECT_FALSE(run.crashed) << "crashes: " << run.err.toStdString();
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << run.err.toStdString();
        EXPECT_EQ(entriesOf(outDir), QStringList{QFileInfo(output).fileName()}) << "leftovers beside the output";
        if (run.exitCode != 0) {
            EXPECT_TRUE(carriesComponentMessage(run.err)) << run.err.toStdString();
            EXPECT_EQ(readBytes(output), kEarlierWork) << "the earlier file was touched";
        } else {
            EXPECT_GT(frameCount(output), 0);
        }
        return run;
    }

    void expectCleanFailure(const QString& input, const cuttooltest::CutOptions& options = {}) {
        const CutRun run = cut(input, options);
        EXPECT_EQ(run.exitCode, 1) << "expected a failure, got: " << run.err.toStdString();
    }

    // A truncated file is cut up to its damage, and the cut is as long as the player
    // says the file is.
    void expectCutToPlayersLength(const QString& input, int64_t maxFrames) {
        testsupport::RecordingOutputs sound;
        clipwren::SoundPlayer player(sound);
        ASSERT_EQ(player.StartUp(1, nullptr, 0, 0, 0, 0), 0);
        ASSERT_EQ(player.OpenFile(0, input), 0);
        const int32_t lengthMs = player.Length(0);
        ASSERT_GT(lengthMs, 0);
        const CutRun run = cut(input);
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        const int64_t frames = frameCount(output);
        EXPECT_LT(frames, maxFrames) << "more than the file holds";
        EXPECT_NEAR(double(frames) * 1000.0 / kRate, lengthMs, 1.0) << "player and cut disagree";
    }

    QTemporaryDir dir;
    QString outDir;
    QString output;
};

}  // namespace

TEST_F(BadInput, FilesThatAreNotSoundFail) {
    writeBytes(path("empty.mp3"), {});
    expectCleanFailure(path("empty.mp3"));
    writeBytes(path("notes.wav"), "This is a shopping list, not a sound.\nmilk\nbread\n");
    expectCleanFailure(path("notes.wav"));
    QDir().mkpath(path("folder.mp3"));
    expectCleanFailure(path("folder.mp3"));
    expectCleanFailure(path("missing.mp3"));
}

TEST_F(BadInput, RandomBytesNamedMp3AreRefusedOrCutCleanly) {
    QByteArray noise(256 * 1024, Qt::Uninitialized);
    QRandomGenerator random(20261207);
    random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    writeBytes(path("noise.mp3"), noise);
    cut(path("noise.mp3"));
}

TEST_F(BadInput, UnreadableFileFails) {
    testsupport::writeWav(path("locked.wav"), kRate, 2, testsupport::tone(kRate, 2, kRate, 440));
    ASSERT_TRUE(QFile::setPermissions(path("locked.wav"), QFileDevice::Permissions{}));
    // The unprivileged run needs to reach the folders and write the output.
    QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777));
    QFile::setPermissions(outDir, QFileDevice::Permissions(0x7777));
    QFile::setPermissions(output, QFileDevice::Permissions(0x6666));
    expectCleanFailure(path("locked.wav"), {.unprivileged = true});
}

TEST_F(BadInput, TruncatedFilesAreCutUpToTheDamage) {
    {
        SCOPED_TRACE("MP3 cut off in the middle");
        makeWithFfmpeg(path("half.mp3"), {"-c:a", "libmp3lame", "-b:a", "128k"});
        truncateTo(path("half.mp3"), QFileInfo(path("half.mp3")).size() / 2);
        expectCutToPlayersLength(path("half.mp3"), 6 * kRate);
    }
    {
        SCOPED_TRACE("M4A with its index in front, cut off in the middle");
        makeWithFfmpeg(path("half.m4a"), {"-c:a", "aac", "-b:a", "128k", "-movflags", "+faststart"});
        truncateTo(path("half.m4a"), QFileInfo(path("half.m4a")).size() / 2);
        expectCutToPlayersLength(path("half.m4a"), 10 * kRate);
    }
    {
        SCOPED_TRACE("WAV whose header claims more data than it has");
        testsupport::writeWav(path("short.wav"), kRate, 2, testsupport::tone(kRate, 2, 10 * kRate, 440));
        truncateTo(path("short.wav"), 44 + 4 * 3 * kRate);
        expectCutToPlayersLength(path("short.wav"), 3 * kRate + 1);
    }
}

TEST_F(BadInput, DamagedContainersNeverCrashOrHang) {
    {
        SCOPED_TRACE("M4A cut off before its index");
        makeWithFfmpeg(path("noindex.m4a"), {"-c:a", "aac", "-b:a", "128k"});
        truncateTo(path("noindex.m4a"), QFileInfo(path("noindex.m4a")).size() / 2);
        cut(path("noindex.m4a"));
    }
}

// Hostile inputs made at test time with ffmpeg and small byte edits. Each gives the
// length the ffmpeg command line decodes (Ogg Vorbis: libvorbis's own decoder, where
// they disagree; damaged: the undamaged file's length), or fails cleanly with the
// component's error and the reason; never a wrong length reported as success.
namespace hostile {

enum class Expect {
    FfmpegLength,    // as many frames as `ffmpeg -i IN -ar 44100 -ac 2` decodes
    OriginalLength,  // damaged: as long as the undamaged file, the loss silence, with a warning
    // at least what ffmpeg decodes, at most a frame more for each packet ffmpeg drops
    // (the loss is silence here), with a warning
    FfmpegLengthAndLoss,
    Refused,
    // Ogg Vorbis: the samples libvorbis's own decoder gives, as many of them
    ReferenceDecoder,
};

struct Made {
    Made(QString input, QString original = {}) : input(std::move(input)), original(std::move(original)) {}
    QString input;
    QString original;  // the undamaged file, for OriginalLength
};

struct Case {
    const char* name;
    Made (*make)(const QDir& dir);
    Expect expect;
    // A range cut, in seconds: its samples must be those at that place in ffmpeg's decode.
    double begin = -1;
    double end = -1;
    double tolerance = 0;  // 16-bit steps (our float decode is rounded once more on the way to 16 bits)
    const char* reason = nullptr;  // Refused: what the last line says after the file's name
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

QString ffmpegMake(const QDir& dir, const QString& name, const QStringList& args) {
    const QString out = dir.filePath(name);
    if (!QFile::exists(out)) {
        const auto r = testsupport::run("ffmpeg", QStringList{"-v", "error", "-y"} + args + QStringList{out});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    return out;
}

// Pink noise with beeps: no two places sound alike, so misplaced audio shows.
QStringList noise(int rate, double seconds, int channels = 2) {
    return {"-f", "lavfi", "-i",
            QString("anoisesrc=color=pink:seed=7:amplitude=0.3:sample_rate=%1:duration=%2").arg(rate).arg(seconds),
            "-ac", QString::number(channels)};
}
QStringList samples(int count) {
    return {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-af",
            QString("atrim=end_sample=%1").arg(count), "-ac", "2"};
}

QString joined(const QDir& dir, const QString& name, const QStringList& parts) {
    QByteArray bytes;
    for (const QString& part : parts) bytes += readBytes(part);
    writeBytes(dir.filePath(name), bytes);
    return dir.filePath(name);
}

// The file with `count` bytes zeroed from the middle on.
QString zeroedInMiddle(const QDir& dir, const QString& from, int count) {
    QByteArray bytes = readBytes(from);
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + count; ++i) bytes[i] = 0;
    const QString out = dir.filePath("zeroed-" + QFileInfo(from).fileName());
    writeBytes(out, bytes);
    return out;
}

QString mp3(const QDir& dir, const QString& name, int rate) {
    return ffmpegMake(dir, name, noise(rate, 4) + QStringList{"-c:a", "libmp3lame", "-b:a", "128k"});
}
QString vorbis(const QDir& dir, const QString& name, int rate, int channels) {
    return ffmpegMake(dir, name, noise(rate, 3, channels) + QStringList{"-c:a", "libvorbis"});
}
// Stereo Vorbis at 44100 Hz followed by a second stream at the given rate and channels.
QString chainedVorbis(const QDir& dir, int rate, int channels) {
    const QString second = vorbis(dir, QString("v%1-%2.ogg").arg(rate).arg(channels), rate, channels);
    return joined(dir, QString("chained-%1-%2.ogg").arg(rate).arg(channels), {vorbis(dir, "v1.ogg", 44100, 2), second});
}
QString shortVorbis(const QDir& dir, int count) {
    return ffmpegMake(dir, QString("s%1.ogg").arg(count), samples(count) + QStringList{"-c:a", "libvorbis"});
}
QString flac(const QDir& dir) { return ffmpegMake(dir, "a.flac", noise(44100, 4) + QStringList{"-c:a", "flac"}); }
QString oggFlac(const QDir& dir) {
    return ffmpegMake(dir, "a.oga", noise(44100, 12) + QStringList{"-c:a", "flac", "-f", "ogg"});
}
QString speex(const QDir& dir) {
    return ffmpegMake(dir, "a.spx", noise(16000, 12, 1) + QStringList{"-c:a", "libspeex"});
}
QString m4a(const QDir& dir) { return ffmpegMake(dir, "a.m4a", noise(44100, 4) + QStringList{"-c:a", "aac"}); }

Made junkBeforeMp3(const QDir& dir) {
    QByteArray junk(300 * 1024, Qt::Uninitialized);
    QRandomGenerator(14).fillRange(reinterpret_cast<quint32*>(junk.data()), junk.size() / 4);
    writeBytes(dir.filePath("junk.bin"), junk);
    return joined(dir, "junk.mp3", {dir.filePath("junk.bin"), mp3(dir, "a44.mp3", 44100)});
}

Made thirtyTwoChannels(const QDir& dir) {
    const QString out = dir.filePath("c32.wav");
    testsupport::writeWav(out, 44100, 32, testsupport::tone(44100, 32, 2 * 44100, 440));
    return out;
}

Made damaged(const QDir& dir, const QString& original) { return {zeroedInMiddle(dir, original, 400), original}; }

// The program's own cut of 23 ms to ADTS, which FFmpeg's probe finds too short.
Made shortAacCut(const QDir& dir) {
    const QString out = dir.filePath("short.aac");
    runCut({flac(dir), "--begin", "1", "--end", "1.023", "--output", out});
    return out;
}

Made written(const QDir& dir, const QString& name, const QByteArray& bytes) {
    writeBytes(dir.filePath(name), bytes);
    return dir.filePath(name);
}

// An ID3 tag that says 10 MB follow, and 64 KiB of MP3 after it: a download cut off.
Made cutOffInsideTag(const QDir& dir) {
    return written(dir, "in-tag.mp3", QByteArray("ID3\x04\0\0\x05\0\0\0", 10) +
                                          readBytes(mp3(dir, "a44.mp3", 44100)).left(64 * 1024));
}

Made freeFormatMp3(const QDir& dir) {
    const QString wav = dir.filePath("for-lame.wav"), out = dir.filePath("free.mp3");
    testsupport::writeWav(wav, 44100, 2, testsupport::tone(44100, 2, 44100, 440));
    EXPECT_EQ(testsupport::run("lame", {"--quiet", "--freeformat", "-b", "400", wav, out}).exitCode, 0);
    return out;
}

Made fifo(const QDir& dir) {
    mkfifo(QFile::encodeName(dir.filePath("pipe.mp3")).constData(), 0666);
    return dir.filePath("pipe.mp3");
}

// A Latin-1 name on a UTF-8 system: not valid UTF-8.
Made latin1Name(const QDir& dir) {
    const QString name = dir.filePath(clipwren::files::decodeFileName("caf\xe9.flac"));
    std::filesystem::copy_file(clipwren::files::fileSystemPath(flac(dir)), clipwren::files::fileSystemPath(name),
                               std::filesystem::copy_options::overwrite_existing);
    return name;
}

const Case kCases[] = {
    // Ogg Vorbis on one page: FFmpeg decodes 576 of 50 samples (its granule positions
    // wrap), none of 128, 172 of 300 and 43,972 of a second.
    {"ogg_vorbis_50_samples", [](const QDir& d) { return Made(shortVorbis(d, 50)); }, Expect::ReferenceDecoder,
     -1, -1, 1},
    {"ogg_vorbis_128_samples", [](const QDir& d) { return Made(shortVorbis(d, 128)); }, Expect::ReferenceDecoder,
     -1, -1, 1},
    {"ogg_vorbis_300_samples", [](const QDir& d) { return Made(shortVorbis(d, 300)); }, Expect::ReferenceDecoder,
     -1, -1, 1},
    {"ogg_vorbis_one_second", [](const QDir& d) { return Made(shortVorbis(d, kRate)); }, Expect::ReferenceDecoder,
     -1, -1, 1},
    {"ogg_vorbis_one_second_from_0_3", [](const QDir& d) { return Made(shortVorbis(d, kRate)); },
     Expect::ReferenceDecoder, 0.3, 1, 1},
    // Ogg FLAC and Speex: the page a seek lands on carries displaced timestamps.
    {"ogg_flac_near_end", [](const QDir& d) { return Made(oggFlac(d)); }, Expect::FfmpegLength, 11, 12, 1},
    {"ogg_flac_last_50_ms", [](const QDir& d) { return Made(oggFlac(d)); }, Expect::FfmpegLength, 11.95, 12, 1},
    {"ogg_speex_near_end", [](const QDir& d) { return Made(speex(d)); }, Expect::FfmpegLength, 11, 12, 4},
    {"mp3_after_300_kb_of_junk", junkBeforeMp3, Expect::FfmpegLength},
    // Each joined file's ID3 tag and LAME frame come as a packet that does not decode.
    {"mp3_joined_44100_and_48000",
     [](const QDir& d) { return Made(joined(d, "j1.mp3", {mp3(d, "a44.mp3", 44100), mp3(d, "a48.mp3", 48000)})); },
     Expect::FfmpegLengthAndLoss},
    {"mp3_joined_to_itself",
     [](const QDir& d) { return Made(joined(d, "j2.mp3", {mp3(d, "a44.mp3", 44100), mp3(d, "a44.mp3", 44100)})); },
     Expect::FfmpegLengthAndLoss},
    {"ogg_chained_alike", [](const QDir& d) { return Made(chainedVorbis(d, 44100, 2)); }, Expect::FfmpegLength},
    {"ogg_chained_rate_and_channels_change", [](const QDir& d) { return Made(chainedVorbis(d, 22050, 1)); },
     Expect::FfmpegLength},
    {"wav_32_channels", thirtyTwoChannels, Expect::FfmpegLength},
    {"ogg_vorbis_page_zeroed", [](const QDir& d) { return damaged(d, vorbis(d, "v1.ogg", 44100, 2)); },
     Expect::OriginalLength},
    {"flac_frame_zeroed", [](const QDir& d) { return damaged(d, flac(d)); }, Expect::OriginalLength},
    {"m4a_frame_zeroed", [](const QDir& d) { return damaged(d, m4a(d)); }, Expect::OriginalLength},
    {"mp3_frame_zeroed", [](const QDir& d) { return Made(damaged(d, mp3(d, "a44.mp3", 44100)).input); },
     Expect::FfmpegLengthAndLoss},
    {"mp3_vbr_frame_zeroed",
     [](const QDir& d) {
         const QString vbr = ffmpegMake(d, "v44.mp3", noise(44100, 4) + QStringList{"-c:a", "libmp3lame", "-q:a", "2"});
         return Made(damaged(d, vbr).input);
     },
     Expect::FfmpegLengthAndLoss},
    {"aac_cut_of_23_ms", shortAacCut, Expect::FfmpegLength},
    {"latin1_file_name", latin1Name, Expect::FfmpegLength, 1, 2, 1},
    // Not sound, or not all of it: the message says which, not FFmpeg's "Invalid argument".
    {.name = "id3_tag_and_nothing_else",
     .make = [](const QDir& d) { return written(d, "tag-only.mp3", QByteArray("ID3\x04\0\0\0\0\0\0", 10)); },
     .expect = Expect::Refused,
     .reason = "the file is cut short: it holds an ID3 tag and no sound"},
    {.name = "mp3_cut_off_inside_its_id3_tag",
     .make = cutOffInsideTag,
     .expect = Expect::Refused,
     .reason = "the file is cut short: it ends inside its ID3 tag, before any sound"},
    {.name = "flac_cut_to_30_bytes",
     .make = [](const QDir& d) { return written(d, "f30.flac", readBytes(flac(d)).left(30)); },
     .expect = Expect::Refused,
     .reason = "the file is cut short or damaged: it starts as raw FLAC but cannot be read as that"},
    {.name = "mp3_free_format",
     .make = freeFormatMp3,
     .expect = Expect::Refused,
     .reason = "it holds free-format MPEG audio, which FFmpeg cannot decode"},
    {.name = "dev_zero",
     .make = [](const QDir&) { return Made("/dev/zero"); },
     .expect = Expect::Refused,
     .reason = "a device, not a file"},
    {.name = "dev_null",
     .make = [](const QDir&) { return Made("/dev/null"); },
     .expect = Expect::Refused,
     .reason = "a device, not a file"},
    // Refused before it is opened: no writer is needed, and none would be waited for.
    {.name = "fifo",
     .make = fifo,
     .expect = Expect::Refused,
     .reason = "a pipe: the program needs a file it can read twice"},
};

// ffmpeg's count of frames at 44100 Hz; channels it cannot mix down are counted as they
// are. An MP4 sound ends where its edit list does (ffprobe's duration), where the command
// line decodes the last packet whole.
int64_t ffmpegFrames(const QString& path) {
    const QString plain = plainNamed(path);
    const auto probe = testsupport::ffprobe(plain);
    if (QString::fromStdString(probe.at("format_format_name")).startsWith("mov"))
        return std::llround(std::stod(probe.at("duration")) * kRate);
    QStringList input{"-v", "error"};
    if (path.endsWith(".aac")) input << "-f" << "aac";  // too short for the probe
    input << "-i" << plain << "-ar" << "44100";
    auto r = testsupport::run("ffmpeg", input + QStringList{"-ac", "2", "-f", "s16le", "-"});
    if (r.exitCode == 0) return r.out.size() / 4;
    r = testsupport::run("ffmpeg", input + QStringList{"-f", "s16le", "-"});
    return r.out.size() / (2 * std::stoi(probe.at("channels")));
}

}  // namespace hostile

class HostileInputs : public BadInput, public ::testing::WithParamInterface<hostile::Case> {};

TEST_P(HostileInputs, RightLengthOrCleanFailure) {
    using hostile::Expect;
    const hostile::Case& c = GetParam();
    static const QTemporaryDir shared;  // inputs made once for the cases run in one process
    const hostile::Made made = c.make(QDir(shared.path()));
    if (hasByteName(made.input)) {
        output = outDir + "/" + clipwren::files::decodeFileName("r\xe9sultat.wav");
        QFile::remove(outDir + "/result.wav");
        writeBytes(output, kEarlierWork);
    }
    QStringList range;
    if (c.begin >= 0) range << "--begin" << QString::number(c.begin) << "--end" << QString::number(c.end);
    const CutRun run = cut(made.input, {}, range);
    if (c.expect == Expect::Refused) {
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.endsWith(QString("clipwren-cut: %1: %2\n").arg(made.input, c.reason).toUtf8()))
            << run.err.toStdString();
        return;
    }
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const bool warned = run.err.contains("warning");
    const std::vector<int16_t> ours = decodedStereo(output);
    const int64_t frames = int64_t(ours.size()) / 2;
    if (c.begin >= 0 || c.expect == Expect::ReferenceDecoder) {
        // The Vorbis sources are stereo at 44100 Hz, as oggdec gives them. A mono source
        // is compared with ffmpeg's mono decode: its -ac 2 lowers the level by 3 dB, where
        // both our channels keep the mono's own level.
        const bool oggdec = c.expect == Expect::ReferenceDecoder;
        const int channels =
            oggdec ? 2 : std::min(2, std::stoi(testsupport::ffprobe(plainNamed(made.input)).at("channels")));
        const std::vector<int16_t> reference = oggdec ? testsupport::oggdecDecode(made.input)
                                                      : testsupport::ffmpegDecode(plainNamed(made.input), kRate, channels);
        const int64_t available = oggdec ? int64_t(reference.size()) / 2 : hostile::ffmpegFrames(made.input);
        const int64_t begin = c.begin >= 0 ? std::llround(c.begin * kRate) : 0;
        const int64_t end = c.begin >= 0 ? std::min<int64_t>(std::llround(c.end * kRate), available) : available;
        ASSERT_EQ(frames, end - begin);
        int worst = 0;
        for (int64_t f = 0; f < frames; ++f)
            for (int ch = 0; ch < channels; ++ch)
                worst = std::max(worst, std::abs(int(ours[size_t(f * 2 + ch)]) -
                                                 int(reference[size_t((begin + f) * channels + ch)])));
        EXPECT_LE(worst, c.tolerance) << "audio from the wrong place";
        return;
    }
    const int64_t ffmpeg = hostile::ffmpegFrames(made.input);
    switch (c.expect) {
    case Expect::FfmpegLength:
        EXPECT_EQ(frames, ffmpeg);
        EXPECT_FALSE(warned) << run.err.toStdString();
        break;
    case Expect::OriginalLength:
        EXPECT_EQ(frames, hostile::ffmpegFrames(made.original));
        EXPECT_TRUE(warned) << "damage not told";
        break;
    case Expect::FfmpegLengthAndLoss: {
        // An MP3 frame holds 1152 samples, here at 44100 or 48000 Hz.
        const int64_t lostFrameAt44100 = 1152;
        EXPECT_GT(frames, ffmpeg);
        EXPECT_LE(frames, ffmpeg + 2 * lostFrameAt44100);
        EXPECT_TRUE(warned);
        break;
    }
    case Expect::Refused:
    case Expect::ReferenceDecoder:
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Items, HostileInputs, ::testing::ValuesIn(hostile::kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BadInput, NamesWithSpacesAndOtherScripts) {
    const QString name = QString::fromUtf8("Ωδή στη θάλασσα 海之歌 🎵 final mix");
    const QString input = path(name + ".wav");
    testsupport::writeWav(input, kRate, 2, testsupport::tone(kRate, 2, 3 * kRate, 440));

    output = outDir + "/" + QString::fromUtf8("κομμάτι 片段 🔔.wav");
    const CutRun run = runCut({input, "--begin", "1", "--output", output});
    ASSERT_TRUE(run.succeeded()) << run.err.toStdString();
    EXPECT_EQ(frameCount(output), 2 * kRate);

    // The default name is made from the input's name, in the stored output folder.
    const QString folder = dir.filePath(QString::fromUtf8("Ringtöne 铃声"));
    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    clipwren::OutputLocation::storeFolder(*clipwren::OutputLocation::userStore(), folder);
    ASSERT_TRUE(runCut({input, "--end", "00:01:500"}).succeeded());
    const QString defaultOutput = folder + QDir::separator() + name + "-part.mp3";
    ASSERT_TRUE(QFile::exists(defaultOutput)) << entriesOf(folder).join(", ").toStdString();
    EXPECT_EQ(testsupport::ffprobe(defaultOutput).at("codec_name"), "mp3");
}

class BadOutput : public BadInput {
protected:
    void SetUp() override {
        BadInput::SetUp();
        input = path("tone.wav");
        testsupport::writeWav(input, kRate, 2, testsupport::tone(kRate, 2, 20 * kRate, 440));
    }
    // The cut must fail with the reason after the output's name, leave what was at the
    // output as it was and add nothing.
    void expectRefused(const QString& target, const char* reason, const cuttooltest::CutOptions& options = {}) {
        const CutRun run = runCut({input, "--output", target}, options);
        EXPECT_FALSE(run.crashed || run.timedOut);
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        EXPECT_TRUE(carriesComponentMessage(run.err)) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString("clipwren-cut: %1: %2").arg(target, reason).toUtf8())) << run.err.toStdString();
        EXPECT_EQ(readBytes(output), kEarlierWork);
        EXPECT_EQ(entriesOf(outDir), QStringList{"result.wav"});
    }
    QString input;
};

// Reads a FIFO into a file while the cut writes into it; stops reading when dropped.
class FifoReader {
public:
    FifoReader(const QString& fifo, const QString& into) {
        cat_.setStandardOutputFile(into);
        cat_.start("cat", {fifo});
        cat_.waitForStarted();
    }
    ~FifoReader() {
        if (!cat_.waitForFinished(2000)) cat_.kill();
        cat_.waitForFinished();
    }

private:
    QProcess cat_;
};

// Each entry under a folder, links not followed: its kind and, for a file, a digest of its bytes.
std::map<std::string, std::string> snapshot(const QString& folder) {
    std::map<std::string, std::string> entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        struct stat info {};
        lstat(QFile::encodeName(entry).constData(), &info);
        const char* kind = S_ISLNK(info.st_mode)    ? "link"
                           : S_ISFIFO(info.st_mode) ? "fifo"
                           : S_ISCHR(info.st_mode)  ? "device"
                           : S_ISDIR(info.st_mode)  ? "folder"
                                                    : "file ";
        const QByteArray digest =
            S_ISREG(info.st_mode) ? QCryptographicHash::hash(readBytes(entry), QCryptographicHash::Md5).toHex() : "";
        entries[QDir(folder).relativeFilePath(entry).toStdString()] = kind + digest.toStdString();
    }
    return entries;
}

TEST_F(BadOutput, EveryKindOfTargetIsWrittenWhereMeantOrRefusedWithTheReason) {
    enum class Outcome { Written, Refused };
    struct Target {
        const char* what;
        // Makes the target in its own folder; returns the output to name on the command line.
        std::function<QString(const QString& folder)> make;
        Outcome outcome;
        // Written: where the cut is to be found afterwards, in the folder ("-": standard
        // output; empty: nowhere to look, as in a null device). Refused: the reason.
        QString result;
        bool asOwnerOfTheFiles = false;  // as an unprivileged user, who owns what the row makes
        bool makesDevices = false;       // mknod is for root only
        bool fromMp3 = false;            // an MP3 cut to MP3 is copied, not encoded
    };
    const QString mp3 = path("tone.mp3");
    makeWithFfmpeg(mp3, {"-c:a", "libmp3lame", "-b:a", "128k"}, 20);
    const auto writeEarlierWork = [](const QString& file) { writeBytes(file, kEarlierWork); };
    const auto link = [](const QString& target, const QString& name) { QFile::link(target, name); };
    const auto fifo = [](const QString& name) { mkfifo(QFile::encodeName(name).constData(), 0666); };
    const auto device = [](const QString& name, int minor) {
        mknod(QFile::encodeName(name).constData(), S_IFCHR | 0666, makedev(1, minor));
    };
    std::unique_ptr<FifoReader> reader;
    const std::vector<Target> targets = {
        {"a new file whose name takes all 255 bytes",
         [](const QString& folder) { return folder + "/" + QString(251, 'n') + ".wav"; }, Outcome::Written,
         QString(251, 'n') + ".wav"},
        {"a link to an earlier file: written through, the link stays",
         [&](const QString& folder) {
             QDir().mkpath(folder + "/real");
             writeEarlierWork(folder + "/real/ring.wav");
             link("real/ring.wav", folder + "/link.wav");
             return folder + "/link.wav";
         },
         Outcome::Written, "real/ring.wav"},
        {"a FIFO: streamed to its reader",
         [&](const QString& folder) {
             fifo(folder + "/pipe.wav");
             reader = std::make_unique<FifoReader>(folder + "/pipe.wav", folder + "/heard.wav");
             return folder + "/pipe.wav";
         },
         Outcome::Written, "heard.wav"},
        {"a FIFO for an M4A file, which must go back over what it wrote",
         [&](const QString& folder) {
             fifo(folder + "/pipe.m4a");
             return folder + "/pipe.m4a";
         },
         Outcome::Refused, "an MP4 or M4A file goes back to write its index"},
        {"a copy of /dev/null", [&](const QString& folder) { device(folder + "/null", 3); return folder + "/null"; },
         Outcome::Written, "", false, true},
        {"a copy of /dev/full", [&](const QString& folder) { device(folder + "/full", 7); return folder + "/full"; },
         Outcome::Refused, "No space left on device", false, true},
        {"a read-only file of the user's own",
         [&](const QString& folder) {
             writeEarlierWork(folder + "/kept.wav");
             QFile::setPermissions(folder + "/kept.wav", QFileDevice::Permissions(0x4444));
             if (geteuid() == 0) chown(QFile::encodeName(folder + "/kept.wav").constData(), 65534, 65534);
             return folder + "/kept.wav";
         },
         Outcome::Refused, "Permission denied", true},
        {"the input, by another spelling of its path",
         [&](const QString&) { return dir.path() + "/./" + QFileInfo(input).fileName(); }, Outcome::Refused,
         "this is the input file"},
        {"the input, through a link",
         [&](const QString& folder) {
             link(input, folder + "/alias.wav");
             return folder + "/alias.wav";
         },
         Outcome::Refused, "this is the input file"},
        {"standard output", [](const QString&) { return QStringLiteral("-"); }, Outcome::Written, "-"},
        {"an MP3 cut into a FIFO: copied, its header written first",
         [&](const QString& folder) {
             fifo(folder + "/pipe.mp3");
             reader = std::make_unique<FifoReader>(folder + "/pipe.mp3", folder + "/heard.mp3");
             return folder + "/pipe.mp3";
         },
         Outcome::Written, "heard.mp3", false, false, true},
        {"an MP3 encoded into a FIFO: its gapless header written first",
         [&](const QString& folder) {
             fifo(folder + "/encoded.mp3");
             reader = std::make_unique<FifoReader>(folder + "/encoded.mp3", folder + "/heard.mp3");
             return folder + "/encoded.mp3";
         },
         Outcome::Written, "heard.mp3"},
        {"the MP3 input itself, which the copy's quick way refuses too", [&](const QString&) { return mp3; },
         Outcome::Refused, "this is the input file", false, false, true},
    };

    // An unprivileged run must reach the input and the rows' folders.
    QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777));
    const QByteArray sources = readBytes(input) + readBytes(mp3);
    int row = 0;
    for (const Target& target : targets) {
        SCOPED_TRACE(target.what);
        if (target.makesDevices && geteuid() != 0) continue;
        const QString folder = path(QString("target%1").arg(++row));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::Permissions(0x7777));
        const QString outputArg = target.make(folder);
        auto before = snapshot(folder);

        const CutRun run = runCut({target.fromMp3 ? mp3 : input, "--begin", "1", "--end", "3", "--output", outputArg},
                                  {.unprivileged = target.asOwnerOfTheFiles});
        reader.reset();
        ASSERT_FALSE(run.crashed || run.timedOut) << run.err.toStdString();
        EXPECT_TRUE(readBytes(input) + readBytes(mp3) == sources) << "an input was touched";
        auto after = snapshot(folder);
        if (target.outcome == Outcome::Refused) {
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_TRUE(carriesComponentMessage(run.err)) << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(QString("clipwren-cut: %1: %2").arg(outputArg, target.result).toUtf8()))
                << run.err.toStdString();
            EXPECT_TRUE(run.out.isEmpty());
            EXPECT_EQ(after, before) << "the target or its folder changed";
            continue;
        }
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        QString heard;  // the file that holds the cut
        if (target.result == "-") {
            heard = path("stdout.wav");
            writeBytes(heard, run.out);
        } else if (!target.result.isEmpty()) {
            heard = folder + "/" + target.result;
            before.erase(target.result.toStdString());
            after.erase(target.result.toStdString());
        }
        // Nothing else changed or came: no temporary file left, no link or device replaced by a file.
        EXPECT_EQ(after, before);
        if (!heard.isEmpty()) {
            // A file no decoder reads counts as no frames, and the next row still runs.
            int64_t frames = -1;
            EXPECT_NO_THROW(frames = frameCount(heard));
            EXPECT_EQ(frames, 2 * kRate);
        }
    }
}

TEST_F(BadOutput, FolderWithoutWritePermission) {
    QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777));
    QFile::setPermissions(input, QFileDevice::Permissions(0x6666));
    ASSERT_TRUE(QFile::setPermissions(outDir, QFileDevice::Permissions(0x5555)));
    expectRefused(output, "Permission denied", {.unprivileged = true});
}

TEST_F(BadOutput, ParentThatIsAFile) {
    expectRefused(output + "/inside.wav", "Not a directory");
}

TEST_F(BadOutput, FullDisk) {
    if (geteuid() != 0) GTEST_SKIP() << "a small filesystem to fill needs root to mount";
    // 64 KiB hold the earlier file but not a 20-second WAV.
    if (mount("tmpfs", outDir.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here: " << strerror(errno);
    struct Unmount {
        QString at;
        ~Unmount() { umount(at.toLocal8Bit().constData()); }
    } unmount{outDir};
    writeBytes(output, kEarlierWork);
    expectRefused(output, "No space left on device");
}
