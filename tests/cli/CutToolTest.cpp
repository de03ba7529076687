// clipwren-cut: its command line in-process, and the executable end to end with the
// ffmpeg command line checking what it wrote.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "CutCommandLine.h"
#include "CutToolProcess.h"
#include "CutCommand.h"
#include "components/soundeditor/CutPipeline.h"
#include "components/soundeditor/SoundEditor.h"
#include "core/CutJob.h"
#include "core/modSpecialFolders.h"
#include "core/OutputLocation.h"
#include "support/TestSupport.h"

using namespace clipwren::cut;
using cuttooltest::entriesOf;
using cuttooltest::runCut;
using testsupport::ffmpegDecode;
using testsupport::ffprobe;
using testsupport::firstFrameAbove;

namespace {

// The settings store and the documents folder live under HOME and XDG_CONFIG_HOME:
// point both at a scratch folder before anything reads them, so that no test sees or
// writes the real user's settings (the cutter runs as a child and inherits them).
QTemporaryDir& isolatedHome() {
    static QTemporaryDir home;
    return home;
}
const bool homeIsolated = [] {
    qputenv("HOME", isolatedHome().path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (isolatedHome().path() + "/config").toUtf8());
    qunsetenv("XDG_DOCUMENTS_DIR");
    return true;
}();

constexpr int kRate = 44100;

void storeOutputFolder(const QString& folder) {
    clipwren::OutputLocation::storeFolder(*clipwren::OutputLocation::userStore(), folder);
}

}  // namespace

TEST(CutTime, TakesTimeTextOrSecondsAndRefusesAnythingElse) {
    EXPECT_EQ(parseCutTime("01:23:456"), 83456);
    EXPECT_EQ(parseCutTime("01.23.456"), 83456);  // the time text ignores its separators
    EXPECT_EQ(parseCutTime("99:59:999"), 5999999);
    EXPECT_EQ(parseCutTime("83.456"), 83456);
    EXPECT_EQ(parseCutTime("83"), 83000);
    EXPECT_EQ(parseCutTime("83."), 83000);
    EXPECT_EQ(parseCutTime("2400"), 2400000);
    EXPECT_EQ(parseCutTime("1.2346"), 1235);  // rounded to the millisecond
    EXPECT_EQ(parseCutTime("0"), 0);
    for (const char* bad : {"", "abc", "1:23", "83,456", "-5", "-1.5", "01:2x:456", "-1:00:000", "-00:01:000",
                            "3000000", "1e3", " 83", "83 s"}) {
        EXPECT_FALSE(parseCutTime(bad).has_value()) << bad;
    }
}

TEST(CutCommandLine, ActionsAndUsageErrors) {
    EXPECT_EQ(parseCommandLine({"clipwren-cut", "--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(parseCommandLine({"clipwren-cut", "-h"}).action, CommandLine::Action::Help);
    EXPECT_EQ(parseCommandLine({"clipwren-cut", "--version"}).action, CommandLine::Action::Version);
    for (const QStringList& bad : {QStringList{"clipwren-cut"}, QStringList{"clipwren-cut", "a.mp3", "b.mp3"},
                                   QStringList{"clipwren-cut", "a.mp3", "--begin", "soon"},
                                   QStringList{"clipwren-cut", "a.mp3", "--end"},
                                   QStringList{"clipwren-cut", "a.mp3", "--output", ""},
                                   QStringList{"clipwren-cut", "a.mp3", "--speed", "2"},
                                   QStringList{"clipwren-cut", "a.mp3", "--begin", "0", "--end", "0"},
                                   QStringList{"clipwren-cut", "a.mp3", "--begin", "5", "--end", "3"},
                                   QStringList{"clipwren-cut", "--list", "cuts.txt", "a.mp3"},
                                   QStringList{"clipwren-cut", "--list", "cuts.txt", "--end", "3"},
                                   QStringList{"clipwren-cut", "--list", "cuts.txt", "-j", "0"},
                                   QStringList{"clipwren-cut", "a.mp3", "-j", "2"},
                                   QStringList{"clipwren-cut", "--cue", "a.cue", "a.mp3"},
                                   QStringList{"clipwren-cut", "--cue", "a.cue", "--list", "cuts.txt"},
                                   QStringList{"clipwren-cut", "a.mp3", "--fade-in", "10.5"},
                                   QStringList{"clipwren-cut", "a.mp3", "--fade-out", "-1"},
                                   QStringList{"clipwren-cut", "a.mp3", "--normalize=-4"},
                                   QStringList{"clipwren-cut", "a.mp3", "--normalize=loud"},
                                   QStringList{"clipwren-cut", "a.mp3", "--copy", "--fade-out", "1"},
                                   QStringList{"clipwren-cut", "--cue", "a.cue", "--normalize"}}) {
        const CommandLine parsed = parseCommandLine(bad);
        EXPECT_EQ(parsed.action, CommandLine::Action::UsageError) << bad.join(' ').toStdString();
        EXPECT_FALSE(parsed.error.isEmpty());
    }
    EXPECT_EQ(parseCommandLine({"clipwren-cut", "a.mp3", "-b", "5", "-e", "3"}).error,
              "The begin (5.000 s) is not before the end (3.000 s).");

    const CommandLine cut = parseCommandLine({"clipwren-cut", "in.wav", "--begin=00:01:500", "-e", "4.25", "-o", "x.ogg"});
    ASSERT_EQ(cut.action, CommandLine::Action::Cut);
    EXPECT_EQ(cut.request.input, "in.wav");
    EXPECT_EQ(cut.request.range.begin, 1500);
    EXPECT_EQ(cut.request.range.end, 4250);
    EXPECT_EQ(cut.request.output, "x.ogg");

    const CommandLine whole = parseCommandLine({"clipwren-cut", "in.wav", "-o", "x.wav"});
    EXPECT_EQ(whole.request.range.begin, 0);
    EXPECT_EQ(whole.request.range.end, std::nullopt);
    EXPECT_FALSE(whole.request.keepEncoding || whole.request.encodeAnew || whole.request.verbose);
    const CommandLine copy = parseCommandLine({"clipwren-cut", "in.mp3", "--copy", "--verbose"});
    EXPECT_TRUE(copy.request.keepEncoding && copy.request.verbose);
    EXPECT_TRUE(parseCommandLine({"clipwren-cut", "in.mp3", "--reencode"}).request.encodeAnew);
    EXPECT_EQ(parseCommandLine({"clipwren-cut", "in.mp3", "--copy", "--reencode"}).action,
              CommandLine::Action::UsageError);
    const auto shapingOf = [](const QStringList& args) { return parseCommandLine(args).request.shaping; };
    EXPECT_EQ(shapingOf({"clipwren-cut", "in.mp3"}), clipwren::processing::Shaping{});
    EXPECT_EQ(shapingOf({"clipwren-cut", "in.mp3", "--fade-in", "0.5", "--fade-out=10", "--normalize"}),
              (clipwren::processing::Shaping{{0.5, 10.0}, -14.0}));
    EXPECT_EQ(shapingOf({"clipwren-cut", "--normalize=-23.5", "in.mp3"}), (clipwren::processing::Shaping{{}, -23.5}));

    const CommandLine batch = parseCommandLine({"clipwren-cut", "--list", "-", "-j", "3", "--copy"});
    ASSERT_EQ(batch.action, CommandLine::Action::Batch);
    EXPECT_EQ(batch.batch.list, "-");
    EXPECT_EQ(batch.batch.jobs, 3);
    EXPECT_TRUE(batch.batch.options.keepEncoding);
    EXPECT_EQ(parseCommandLine({"clipwren-cut", "--list", "-", "--normalize=-16", "--fade-in", "1"}).batch.options.shaping,
              (clipwren::processing::Shaping{{1.0, 0.0}, -16.0}));
}

TEST(CutCommandLine, DefaultOutputIsWhereTheWindowPutsIt) {
    const QString sep = QDir::separator();
    // First run: nothing stored, so "My Ringtones" in the documents folder.
    const QString documents = clipwren::GetMyDocumentsFolder();
    EXPECT_EQ(defaultOutputPath("/music/song.mp3"), documents + sep + "My Ringtones" + sep + "song-part.mp3");
    EXPECT_EQ(defaultOutputPath("C:\\Music\\voice.wav"), documents + sep + "My Ringtones" + sep + "voice-part.mp3");

    storeOutputFolder("/srv/tones");
    EXPECT_EQ(defaultOutputPath("/a/b.c.ogg"), "/srv/tones" + sep + "b.c-part.mp3");
    EXPECT_EQ(defaultOutputPath("noext"), "/srv/tones" + sep + "noext-part.mp3");
    // A stored empty folder means the default one, as it does for the window.
    storeOutputFolder("");
    EXPECT_EQ(defaultOutputPath("/a/song.mp3"), documents + sep + "My Ringtones" + sep + "song-part.mp3");
}

TEST(CutToolProgram, HelpVersionAndUsageErrorsTouchNoFile) {
    const auto help = runCut({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("--begin") && help.out.contains("--output")) << help.out.toStdString();
    const auto version = runCut({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("clipwren-cut ")) << version.out.toStdString();

    QTemporaryDir dir;
    const QString input = dir.filePath("in.wav");
    testsupport::writeWav(input, kRate, 2, testsupport::tone(kRate, 2, kRate, 440));
    const auto usage = runCut({input, "--begin", "later", "--output", dir.filePath("out.wav")});
    EXPECT_EQ(usage.exitCode, 2);
    EXPECT_TRUE(usage.err.contains("later")) << usage.err.toStdString();
    EXPECT_EQ(entriesOf(dir.path()), QStringList{"in.wav"});
}

class CutToolCut : public ::testing::Test {
protected:
    // Ten seconds of a quiet tone with clicks whose positions are known.
    void SetUp() override {
        auto samples = testsupport::tone(kRate, 2, 10 * kRate, 440, 0.1);
        for (int64_t frame : kClicks) testsupport::addClick(samples, 2, frame);
        input = dir.filePath("source.wav");
        testsupport::writeWav(input, kRate, 2, samples);
    }
    static constexpr int64_t kClicks[] = {3 * kRate + 1234, 5 * kRate + 77, 9 * kRate + 5};
    QTemporaryDir dir;
    QString input;
};

TEST_F(CutToolCut, WavHoldsExactlyTheMarkedSamples) {
    const QString output = dir.filePath("out/piece.wav");  // the missing folder is created
    const auto run = runCut({input, "--begin", "00:02:000", "--end", "5.5", "--output", output});
    ASSERT_TRUE(run.succeeded()) << run.err.toStdString();
    // Quiet unless standard error is a terminal.
    EXPECT_TRUE(run.err.isEmpty()) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());

    const auto probe = ffprobe(output);
    EXPECT_EQ(probe.at("codec_name"), "pcm_s16le");
    EXPECT_EQ(probe.at("sample_rate"), "44100");
    EXPECT_EQ(probe.at("channels"), "2");
    const auto pcm = ffmpegDecode(output);
    ASSERT_EQ(int64_t(pcm.size()) / 2, int64_t(5.5 * kRate) - 2 * kRate);
    EXPECT_EQ(firstFrameAbove(pcm, 2, 20000), kClicks[0] - 2 * kRate);
    EXPECT_EQ(firstFrameAbove(pcm, 2, 20000, kClicks[0] - 2 * kRate + 1), kClicks[1] - 2 * kRate);
}

TEST_F(CutToolCut, WithoutEndTheCutRunsToTheEndOfTheSound) {
    const QString output = dir.filePath("tail.wav");
    const auto run = runCut({input, "--begin", "8", "--output", output});
    ASSERT_TRUE(run.succeeded()) << run.err.toStdString();
    const auto pcm = ffmpegDecode(output);
    EXPECT_EQ(int64_t(pcm.size()) / 2, 2 * kRate);
    EXPECT_EQ(firstFrameAbove(pcm, 2, 20000), kClicks[2] - 8 * kRate);
}

TEST_F(CutToolCut, ExtensionChoosesTheEncodingIgnoringCase) {
    const QString output = dir.filePath("piece.MP3");
    const auto run = runCut({input, "-b", "1", "-e", "4", "-o", output});
    ASSERT_TRUE(run.succeeded()) << run.err.toStdString();
    EXPECT_EQ(run.err, "") << "the encoder's notes are for --verbose";
    const auto probe = ffprobe(output);
    EXPECT_EQ(probe.at("codec_name"), "mp3");
    EXPECT_EQ(probe.at("sample_rate"), "44100");
    EXPECT_EQ(probe.at("channels"), "2");
    EXPECT_EQ(probe.at("bit_rate"), "128000");
    EXPECT_NEAR(std::atof(probe.at("duration").c_str()), 3.0, 0.06);  // ffprobe may count the padding

    for (const auto& [name, codec] : {std::pair{"piece.ogg", "vorbis"}, {"piece.m4a", "aac"}}) {
        const auto encoded = runCut({input, "-b", "1", "-e", "4", "-o", dir.filePath(name)});
        ASSERT_TRUE(encoded.succeeded()) << encoded.err.toStdString();
        EXPECT_EQ(encoded.err, "") << "the encoder's notes are for --verbose";
        EXPECT_EQ(ffprobe(dir.filePath(name)).at("codec_name"), codec);
    }
}

// The same cut made by the sound editor in-process, as the window makes it.
void editorCut(const QString& input, clipwren::CutRange range, const QString& output, clipwren::CopyRule copy,
               const clipwren::processing::Shaping& shaping) {
    clipwren::SoundEditor editor;
    clipwren::CutJob job(editor);
    QSignalSpy finished(&job, &clipwren::CutJob::finished);
    clipwren::CutJob::Plan plan = clipwren::CutJob::fixedPlan(input, range, output);
    plan.copy = copy;
    plan.shaping = shaping;
    job.start(std::move(plan));
    EXPECT_TRUE(finished.wait(60000));
}

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What `write` puts into a pipe made at `path`, read on a thread of its own as it comes.
QByteArray throughPipe(const QString& path, const std::function<void()>& write) {
    const QByteArray name = QFile::encodeName(path);
    EXPECT_EQ(mkfifo(name.constData(), 0600), 0);
    QByteArray read;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        QFile pipe(path);
        if (pipe.open(QIODevice::ReadOnly)) read = pipe.readAll();
        done = true;
    });
    write();
    // A writer that failed before opening the pipe leaves the reader waiting for one: a
    // writer of our own, opened and closed, lets it see the end.
    while (!done) {
        const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reader.join();
    QFile::remove(path);
    return read;
}

// The window's road (the sound editor through CutJob) and the command line's write the same
// bytes for the same cut, copied or encoded anew, into a file or a stream: standard output
// where the program offers it (WAV), a pipe otherwise; with fades and loudness too, whose
// measure --verbose says. ffmpeg checks the piece's length.
TEST_F(CutToolCut, WindowAndCommandLineWriteTheSameBytes) {
    const QString cbr = dir.filePath("cbr.mp3"), vbr = dir.filePath("vbr.mp3"), mp3At48k = dir.filePath("48k.mp3"),
                  aac = dir.filePath("aac.m4a");
    testsupport::ffmpegConvert(input, cbr, {"-c:a", "libmp3lame", "-b:a", "128k"});
    testsupport::ffmpegConvert(input, vbr, {"-c:a", "libmp3lame", "-q:a", "4"});
    testsupport::ffmpegConvert(input, mp3At48k, {"-ar", "48000", "-c:a", "libmp3lame", "-b:a", "128k"});
    testsupport::ffmpegConvert(input, aac, {"-c:a", "aac", "-b:a", "128k"});
    using clipwren::CopyRule;
    enum class To { File, Stream };
    struct Case {
        const char* name;
        QString source;
        const char* extension;
        CopyRule copy;
        To to;
        clipwren::CutRange range;
        bool copied;
        int rate;            // of the piece written
        int64_t toleranceFrames;  // AAC is cut and padded by whole frames of 1024
        clipwren::processing::Shaping shaping = {};
    };
    const clipwren::CutRange middle{2000, 5000}, tail{7000, INT32_MAX};
    const Case cases[] = {
        {"CBR copied", cbr, "mp3", CopyRule::Always, To::File, middle, true, kRate, 0},
        {"CBR copied to the end", cbr, "mp3", CopyRule::Always, To::File, tail, true, kRate, 0},
        // The window's MP3 settings are this source's, so it is copied without --copy too.
        {"CBR alike", cbr, "mp3", CopyRule::WhereAlike, To::File, tail, true, kRate, 0},
        {"CBR copied into a pipe", cbr, "mp3", CopyRule::Always, To::Stream, middle, true, kRate, 0},
        {"CBR encoded anew", cbr, "mp3", CopyRule::Never, To::File, middle, false, kRate, 0},
        {"VBR copied", vbr, "mp3", CopyRule::Always, To::File, middle, true, kRate, 0},
        {"VBR to standard output", vbr, "wav", CopyRule::WhereAlike, To::Stream, middle, false, kRate, 0},
        {"48 kHz copied", mp3At48k, "mp3", CopyRule::Always, To::File, middle, true, 48000, 0},
        {"48 kHz encoded at 44.1 kHz", mp3At48k, "mp3", CopyRule::WhereAlike, To::File, middle, false, kRate, 0},
        {"AAC copied", aac, "m4a", CopyRule::Always, To::File, middle, true, kRate, 1024},
        {"AAC encoded anew", aac, "m4a", CopyRule::Never, To::File, middle, false, kRate, 1024},
        {"WAV", input, "wav", CopyRule::WhereAlike, To::File, middle, false, kRate, 0},
        {"WAV to standard output", input, "wav", CopyRule::WhereAlike, To::Stream, tail, false, kRate, 0},
        {"CBR faded and normalized", cbr, "mp3", CopyRule::WhereAlike, To::File, middle, false, kRate, 0,
         {{0.5, 1.0}, -16.0}},
        {"WAV faded to standard output", input, "wav", CopyRule::WhereAlike, To::Stream, tail, false, kRate, 0,
         {{0.25, 2.0}, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStringList args{c.source, "-b", QString::number(c.range.beginMs / 1000.0), "--verbose"};
        if (c.range.endMs != INT32_MAX) args << "-e" << QString::number(c.range.endMs / 1000.0);
        if (c.copy == CopyRule::Always) args << "--copy";
        if (c.copy == CopyRule::Never) args << "--reencode";
        if (c.shaping.fades.inSeconds > 0) args << "--fade-in" << QString::number(c.shaping.fades.inSeconds);
        if (c.shaping.fades.outSeconds > 0) args << "--fade-out" << QString::number(c.shaping.fades.outSeconds);
        if (c.shaping.normalizeToLufs) args << "--normalize=" + QString::number(*c.shaping.normalizeToLufs);
        const QString cliOutput = dir.filePath(QStringLiteral("cli.%1").arg(c.extension));
        const QString windowOutput = dir.filePath(QStringLiteral("window.%1").arg(c.extension));
        cuttooltest::CutRun run;
        const auto cliCut = [&](const QString& output) { run = runCut(args + QStringList{"-o", output}); };
        QByteArray fromCli, fromWindow;
        if (c.to == To::File) {
            cliCut(cliOutput);
            fromCli = contentsOf(cliOutput);
            editorCut(c.source, c.range, windowOutput, c.copy, c.shaping);
            fromWindow = contentsOf(windowOutput);
        } else {
            if (QLatin1String(c.extension) == "wav") {
                cliCut("-");
                fromCli = run.out;
            } else {
                fromCli = throughPipe(cliOutput, [&] { cliCut(cliOutput); });
            }
            fromWindow =
                throughPipe(windowOutput, [&] { editorCut(c.source, c.range, windowOutput, c.copy, c.shaping); });
        }
        ASSERT_TRUE(run.succeeded()) << run.err.toStdString();
        EXPECT_EQ(run.err.startsWith("clipwren-cut: copied without encoding again"), c.copied) << run.err.toStdString();
        EXPECT_EQ(run.err.contains("\nclipwren-cut: loudness "), c.shaping.normalizeToLufs.has_value())
            << run.err.toStdString();
        ASSERT_FALSE(fromCli.isEmpty());
        EXPECT_TRUE(fromCli == fromWindow) << fromCli.size() << " bytes against " << fromWindow.size();

        QFile written(cliOutput);
        ASSERT_TRUE(written.open(QIODevice::WriteOnly) && written.write(fromCli) == fromCli.size());
        written.close();
        const int64_t frames = (std::min(c.range.endMs, 10000) - c.range.beginMs) * int64_t(c.rate) / 1000;
        EXPECT_NEAR(double(ffmpegDecode(cliOutput).size() / 2), double(frames), double(c.toleranceFrames));
        QFile::remove(cliOutput);
        QFile::remove(windowOutput);
    }
}

TEST_F(CutToolCut, CopyKeepsTheSourcesEncodingOrSaysWhyNot) {
    const QString mp3 = dir.filePath("source.mp3");
    testsupport::ffmpegConvert(input, mp3, {"-c:a", "libmp3lame", "-b:a", "128k"});
    const auto encoded = runCut({mp3, "-e", "2", "-o", dir.filePath("piece.ogg"), "--verbose"});
    ASSERT_TRUE(encoded.succeeded()) << encoded.err.toStdString();
    EXPECT_TRUE(encoded.err.startsWith("clipwren-cut: encoded anew: an MP3 keeps")) << encoded.err.toStdString();
    const auto asked = runCut({mp3, "-e", "2", "-o", dir.filePath("copied.mp3"), "--reencode", "--verbose"});
    EXPECT_EQ(asked.err, "clipwren-cut: encoded anew: encoding anew was asked for\n");

    // Where the encoding cannot be kept: a WAV source, an MP3 to another kind of file, a
    // piece within one frame (LAME's and FFmpeg's delays put 2 s at 601 samples into one).
    for (const QStringList& args : {QStringList{input, "-o", dir.filePath("no.mp3")},
                                    QStringList{mp3, "-o", dir.filePath("no.wav")},
                                    QStringList{mp3, "-b", "2", "-e", "2.01", "-o", dir.filePath("no.mp3")}}) {
        const auto refused = runCut(args + QStringList{"--copy"});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_TRUE(refused.err.startsWith("clipwren-cut: --copy: the source's encoding cannot be kept: "))
            << refused.err.toStdString();
    }
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"copied.mp3", "piece.ogg", "source.mp3", "source.wav"}));
}

// The bytes this process has read so far (Linux's count).
qint64 bytesRead() {
    QFile io("/proc/self/io");
    if (!io.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : io.readAll().split('\n'))
        if (line.startsWith("rchar:")) return line.mid(6).trimmed().toLongLong();
    return -1;
}

// A copy from a long constant-rate MP3 reads its head, its last frame and the piece,
// not what lies between: 30 s from the middle of three hours (8 kbit/s, so that the
// file, a minute's frames joined by stream copy, takes 11 MB; the copy reads 0.75 MB).
TEST_F(CutToolCut, CopyFromAThreeHourFileReadsOnlyItsEnds) {
    const QString minute = dir.filePath("minute.mp3"), hours = dir.filePath("hours.mp3");
    testsupport::run("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=330:duration=60:sample_rate=16000", "-c:a",
                                "libmp3lame", "-b:a", "8k", minute});
    QFile list(dir.filePath("list.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    for (int i = 0; i < 3 * 60; ++i) list.write(QStringLiteral("file '%1'\n").arg(minute).toUtf8());
    list.close();
    testsupport::run("ffmpeg", {"-v", "error", "-f", "concat", "-safe", "0", "-i", list.fileName(), "-c", "copy", hours});
    const qint64 size = QFileInfo(hours).size();
    ASSERT_GT(size, 10'000'000);

    CutRequest request;
    request.input = hours;
    request.output = dir.filePath("piece.mp3");
    request.range = clipwren::soundeditor::SampleRange::fromMs(90 * 60 * 1000, 90 * 60 * 1000 + 30 * 1000);
    request.keepEncoding = true;
    const std::atomic<int> noSignal{0};
    const qint64 before = bytesRead();
    // Without the codecs, as the program makes an MP3 copy.
    clipwren::soundeditor::CutPipeline withoutCodecs(nullptr);
    const std::optional<CutOutcome> copied = makeCut(request, withoutCodecs, noSignal, nullptr);
    ASSERT_TRUE(copied.has_value());
    ASSERT_EQ(copied->status, 0);
    const qint64 read = bytesRead() - before;
    EXPECT_LT(read, 1024 * 1024) << "of " << size;
    EXPECT_EQ(int64_t(ffmpegDecode(request.output).size()), 30 * 16000);
}

TEST_F(CutToolCut, DefaultOutputGoesToTheStoredFolder) {
    const QString folder = dir.filePath("My Tones");
    storeOutputFolder(folder);
    const auto run = runCut({input, "--begin", "00:01:000", "--end", "00:02:000"});
    ASSERT_TRUE(run.succeeded()) << run.err.toStdString();
    const QString output = folder + QDir::separator() + "source-part.mp3";
    ASSERT_TRUE(QFile::exists(output));
    EXPECT_EQ(ffprobe(output).at("codec_name"), "mp3");
}

TEST_F(CutToolCut, FailureNamesTheComponentsErrorAndWritesNothing) {
    const QString output = dir.filePath("keep.wav");
    QFile existing(output);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("earlier work");
    existing.close();

    const auto missing = runCut({dir.filePath("nowhere.wav"), "-o", output});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(missing.crashed);
    EXPECT_TRUE(missing.err.startsWith("clipwren-cut: File could not be loaded. ")) << missing.err.toStdString();
    // The file and the system's reason, on a line of their own.
    EXPECT_TRUE(missing.err.contains(("\nclipwren-cut: " + dir.filePath("nowhere.wav") + ": No such file or directory\n").toUtf8()))
        << missing.err.toStdString();

    // Beginning past the end of the sound leaves nothing to export.
    const auto pastTheEnd = runCut({input, "--begin", "12", "-o", output});
    EXPECT_EQ(pastTheEnd.exitCode, 1);
    EXPECT_TRUE(pastTheEnd.err.endsWith("clipwren-cut: Export to file failed. No selection available\n"
                                        "clipwren-cut: the begin mark (12.000 s) lies after the end of the sound "
                                        "(10.000 s)\n"))
        << pastTheEnd.err.toStdString();

    QFile kept(output);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "earlier work");
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"keep.wav", "source.wav"}));
}

TEST_F(CutToolCut, ListMakesEveryCutItCanAndTellsEachFailureByItsLine) {
    const QString list = dir.filePath("cuts.txt");
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QString missing = dir.filePath("nowhere.wav");
    file.write(QString("%1\t2\t5.5\t%2\n"
                       "# a comment, then an empty line\n\n"
                       "%3 0 1 %4\n"
                       "%1 1 soon %4\n"
                       "%1 00:09:000 00:09:500 %5\n")
                   .arg(input, dir.filePath("a.wav"), missing, dir.filePath("b.wav"), dir.filePath("c.mp3"))
                   .toUtf8());
    file.close();
    const auto run = runCut({"--list", list, "-j", "2"});
    EXPECT_EQ(run.exitCode, 1);
    const QString err = QString::fromUtf8(run.err);
    EXPECT_TRUE(err.contains("clipwren-cut: line 4: " + missing + ": No such file or directory\n")) << run.err.toStdString();
    EXPECT_TRUE(err.contains("clipwren-cut: line 5: not a valid time: \"soon\"")) << run.err.toStdString();
    EXPECT_EQ(ffmpegDecode(dir.filePath("a.wav")).size() / 2, size_t(3.5 * kRate));
    EXPECT_EQ(ffmpegDecode(dir.filePath("c.mp3")).size() / 2, size_t(kRate / 2));
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"a.wav", "c.mp3", "cuts.txt", "source.wav"}));
}

// A cue sheet's tracks, decoded one after another, are the whole image decoded: not a
// sample lost or doubled at a seam, the pause before a track (INDEX 00) kept at the end
// of the one before. A WAV image is cut to WAV; an MP3 (at a rate the window would not
// encode) keeps its encoding; a FLAC file may carry the sheet in its tags.
TEST_F(CutToolCut, CueSheetTracksJoinUpToTheWholeImage) {
    const QString mp3 = dir.filePath("source.mp3"), flac = dir.filePath("source.flac");
    testsupport::ffmpegConvert(input, mp3, {"-c:a", "libmp3lame", "-q:a", "2", "-metadata", "title=Whole"});
    const QString sheetText = QStringLiteral(
        "PERFORMER \"Band\"\nTITLE \"Album\"\nFILE \"%1\" WAVE\n"
        "  TRACK 01 AUDIO\n    TITLE \"AC/DC: Live?\"\n    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n    PERFORMER \"Guest\"\n    TITLE \"Zwei\"\n    INDEX 00 00:02:37\n    INDEX 01 00:03:01\n"
        "  TRACK 03 AUDIO\n    INDEX 01 00:07:74");
    testsupport::ffmpegConvert(input, flac, {"-metadata", "CUESHEET=" + sheetText.arg("CD.wav")});
    for (const auto& [image, extension] : {std::pair{input, "wav"}, {mp3, "mp3"}, {flac, "wav"}}) {
        QString sheet = flac;
        if (image != flac) {
            QFile file(sheet = dir.filePath("album.cue"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(sheetText.arg(QFileInfo(image).fileName()).toUtf8());
        }
        const QString tracks = dir.filePath("tracks-" + QFileInfo(image).suffix());
        // One at a time: each track's cut takes on the frame index the one before walked.
        const auto run = runCut({"--cue", sheet, "--output", tracks, "--verbose", "-j", "1"});
        ASSERT_TRUE(run.succeeded()) << run.err.toStdString();
        EXPECT_EQ(run.err.count(image == mp3 ? "copied without encoding again" : "encoded anew"), 3)
            << run.err.toStdString();
        const QStringList names = entriesOf(tracks);
        ASSERT_EQ(names, (QStringList{"01 - Band - AC_DC_ Live_." + QString(extension), "02 - Guest - Zwei." + QString(extension),
                                      "03 - Band - Track 3." + QString(extension)}));
        std::vector<int16_t> joined;
        for (const QString& name : names) {
            const auto track = ffmpegDecode(QDir(tracks).filePath(name));
            joined.insert(joined.end(), track.begin(), track.end());
        }
        EXPECT_EQ(ffmpegDecode(QDir(tracks).filePath(names[1])).size() / 2, size_t(4 * 75 + 73) * 588);
        EXPECT_TRUE(joined == ffmpegDecode(image)) << image.toStdString();
        // Tagged from the sheet, none of the image's own title left.
        for (const auto& [track, expected] :
             {std::pair{1, QStringList{"TAG:album=Album", "TAG:artist=Guest", "TAG:title=Zwei", "TAG:track=2/3"}},
              {2, {"TAG:album=Album", "TAG:artist=Band", "TAG:title=Track 3", "TAG:track=3/3"}}}) {
            QStringList tags = QString::fromUtf8(testsupport::run("ffprobe", {"-v", "error", "-show_entries",
                                                                              "format_tags=title,artist,album,track",
                                                                              "-of", "default=nw=1",
                                                                              QDir(tracks).filePath(names[track])})
                                                     .out)
                                   .split('\n', Qt::SkipEmptyParts);
            tags.sort();
            EXPECT_EQ(tags, expected) << image.toStdString();
        }
    }
    // A hundredth track would land in the 99th's place: the sheet is refused instead.
    QString tooMany = sheetText.arg("source.wav");
    for (int track = 4; track <= 100; ++track) tooMany += QStringLiteral("\n  TRACK %1 AUDIO\n    INDEX 01 00:09:%2").arg(track).arg(track % 75);
    QFile sheet(dir.filePath("many.cue"));
    ASSERT_TRUE(sheet.open(QIODevice::WriteOnly));
    sheet.write(tooMany.toUtf8());
    sheet.close();
    const auto refused = runCut({"--cue", sheet.fileName(), "--output", dir.filePath("many")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("lists 100 tracks, more than the 99")) << refused.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("many")));
}

TEST_F(CutToolCut, ProgressBarOnlyOnATerminal) {
    // script(1) gives the cutter a terminal for standard error.
    const QString output = dir.filePath("tty.wav");
    const QString command = QStringLiteral("'%1' '%2' --end 4 --output '%3'").arg(cuttooltest::cutToolPath(), input, output);
    const auto run = testsupport::run("script", {"-qfec", command, "/dev/null"});
    ASSERT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Loading")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Exporting")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("100%")) << run.out.toStdString();
    EXPECT_TRUE(QFile::exists(output));
}

// A single cut, and a list whose cuts run on threads of the one process.
TEST(CutToolInterrupt, ATerminatedCutLeavesNoFileBehind) {
    QTemporaryDir dir;
    const QString input = dir.filePath("long.wav");
    // Long enough that the export is still running when the signal comes.
    ASSERT_EQ(testsupport::run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "anoisesrc=d=300:r=44100:a=0.2",
                                          "-ac", "2", input})
                  .exitCode,
              0);
    const QString outDir = dir.filePath("out");
    QFile list(dir.filePath("cuts.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(QString("%1\t0\t300\t%2/a.mp3\n%1\t0\t300\t%2/b.mp3\n").arg(input, outDir).toUtf8());
    list.close();
    for (const QStringList& args : {QStringList{input, "--output", outDir + "/long.mp3"},
                                    QStringList{"--list", list.fileName(), "-j", "2"}}) {
        QDir(outDir).removeRecursively();
        QDir().mkpath(outDir);
        QProcess cutter;
        cutter.start(cuttooltest::cutToolPath(), args);
        ASSERT_TRUE(cutter.waitForStarted());
        // Wait for an export's temporary file, so the signal lands in the middle of the write.
        for (int i = 0; i < 1200 && entriesOf(outDir).isEmpty() && cutter.state() == QProcess::Running; ++i)
            cutter.waitForFinished(100);
        const qint64 pid = cutter.processId();
        if (cutter.state() == QProcess::Running && pid > 0) ::kill(pid_t(pid), SIGTERM);
        ASSERT_TRUE(cutter.waitForFinished(120000));
        ASSERT_EQ(cutter.exitStatus(), QProcess::NormalExit) << "died of the signal instead of cleaning up";
        if (cutter.exitCode() != 0) {
            EXPECT_EQ(cutter.exitCode(), 128 + SIGTERM);
            EXPECT_TRUE(cutter.readAllStandardError().contains("Cancelled."));
        }
        // What a cut finished before the signal wrote is whole; nothing else is left.
        for (const QString& name : entriesOf(outDir)) {
            ASSERT_TRUE(QStringList({"long.mp3", "a.mp3", "b.mp3"}).contains(name)) << name.toStdString();
            EXPECT_NEAR(std::atof(ffprobe(outDir + "/" + name).at("duration").c_str()), 300.0, 0.1);
        }
    }
}
