// The window's "Save selection" and clipwren-cut, given the same file and marks,
// write the same bytes.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include "CutToolProcess.h"
#include "editor/frmMain.h"
#include "platform/Dialogs.h"
#include "platform/SettingsStore.h"
#include "support/TestSupport.h"

namespace {

class ScriptedDialogs : public clipwren::platform::DialogProvider {
public:
    explicit ScriptedDialogs(QString input) : input_(std::move(input)) {}
    QString openFileName(QWidget*, const QString&, const QString&) override { return input_; }
    void message(QWidget*, const QString& text, const QString&, clipwren::platform::MessageIcon) override {
        messages.append(text);
    }
    QStringList messages;

private:
    QString input_;
};

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

TEST(SameCut, WindowAndCommandLineWriteTheSameBytes) {
    QTemporaryDir dir;
    const QString input = dir.filePath("song.wav");
    auto samples = testsupport::tone(44100, 2, 8 * 44100, 523.25, 0.3);
    testsupport::addClick(samples, 2, 2 * 44100 + 321);
    testsupport::writeWav(input, 44100, 2, samples);
    // The window stores its settings under its executable's name.
    clipwren::platform::SaveSetting(clipwren::frmMain::settingsAppName(), "Options", "OutputFolder",
                                    dir.filePath("window"));

    ScriptedDialogs dialogs(input);
    clipwren::platform::setDialogProvider(&dialogs);
    {
        clipwren::frmMain window;
        window.cmdInput_Click();
        window.findChild<QLineEdit*>("txtBeginMark")->setText("00:01:250");
        window.findChild<QLineEdit*>("txtEndMark")->setText("00:04:500");
        window.cmdCutAndSave_Click();
        ASSERT_EQ(dialogs.messages, QStringList{"Audio file successfuly exported."});
        ASSERT_EQ(window.outputPath(), dir.filePath("window") + QDir::separator() + "song-part.mp3");
    }
    clipwren::platform::setDialogProvider(nullptr);

    const QString cliOutput = dir.filePath("cli/song-part.mp3");
    const auto run = cuttooltest::runCut({input, "--begin", "00:01:250", "--end", "4.5", "--output", cliOutput});
    ASSERT_TRUE(run.succeeded()) << run.err.toStdString();

    const QByteArray fromWindow = contentsOf(dir.filePath("window/song-part.mp3"));
    ASSERT_FALSE(fromWindow.isEmpty());
    EXPECT_TRUE(fromWindow == contentsOf(cliOutput)) << "the two paths encode differently";
    EXPECT_EQ(testsupport::ffprobe(cliOutput).at("codec_name"), "mp3");
}
