// Broken, odd and hostile inputs and outputs for the cutter. Every case either cuts
// what it can or fails with the component's message; none crashes, hangs, leaves a
// partial file or touches a file already at the output name.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <sys/mount.h>
#include <unistd.h>

#include "CutToolProcess.h"
#include "components/errors/modSoundErrDesc.h"
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

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

// True when the message ends in one of the component's error texts.
bool carriesComponentMessage(const QByteArray& err) {
    const QString text = QString::fromUtf8(err).trimmed();
    for (int32_t code = -1; code >= -120; --code) {
        const QString description = clipwren::GetErrorDescription(code);
        if (!description.isEmpty() && text.endsWith(description)) return true;
    }
    return false;
}

int64_t frameCount(const QString& path) { return int64_t(testsupport::ffmpegDecode(path, kRate, 2).size()) / 2; }

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
    CutRun cut(const QString& input, const cuttooltest::CutOptions& options = {}) {
        const CutRun run = runCut({input, "--output", output}, options);
        EXPECT_FALSE(run.timedOut) << "hangs";
        EXPECT_FALSE(run.crashed) << "crashes: " << run.err.toStdString();
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << run.err.toStdString();
        EXPECT_EQ(entriesOf(outDir), QStringList{"result.wav"}) << "leftovers beside the output";
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
    {
        SCOPED_TRACE("OGG with a damaged page");
        makeWithFfmpeg(path("damaged.ogg"), {"-c:a", "libvorbis", "-q:a", "4"});
        QByteArray bytes = readBytes(path("damaged.ogg"));
        const qsizetype page = bytes.indexOf("OggS", bytes.size() / 2);
        ASSERT_GT(page, 0);
        for (qsizetype i = page + 5; i < page + 400 && i < bytes.size(); ++i) bytes[i] = char(0xA5);
        writeBytes(path("damaged.ogg"), bytes);
        const CutRun run = cut(path("damaged.ogg"));
        if (run.exitCode == 0) {
            EXPECT_LE(frameCount(output), 10 * kRate + 2048);
        }
    }
}

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
    // The cut must fail, leave what was at the output as it was and add nothing.
    void expectRefused(const QString& target, const cuttooltest::CutOptions& options = {}) {
        const CutRun run = runCut({input, "--output", target}, options);
        EXPECT_FALSE(run.crashed || run.timedOut);
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        EXPECT_TRUE(carriesComponentMessage(run.err)) << run.err.toStdString();
        EXPECT_EQ(readBytes(output), kEarlierWork);
        EXPECT_EQ(entriesOf(outDir), QStringList{"result.wav"});
    }
    QString input;
};

TEST_F(BadOutput, FolderWithoutWritePermission) {
    QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777));
    QFile::setPermissions(input, QFileDevice::Permissions(0x6666));
    ASSERT_TRUE(QFile::setPermissions(outDir, QFileDevice::Permissions(0x5555)));
    expectRefused(output, {.unprivileged = true});
}

TEST_F(BadOutput, ParentThatIsAFile) {
    expectRefused(output + "/inside.wav");
}

TEST_F(BadOutput, OutputEqualToInputIsKeptWhenTheCutFails) {
    const QByteArray original = readBytes(input);
    const CutRun run = runCut({input, "--begin", "15", "--end", "5", "--output", input});
    EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
    EXPECT_EQ(readBytes(input), original);
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{"out", "tone.wav"}));
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
    expectRefused(output);
}
