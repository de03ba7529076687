// The window with the real player and editor on fixture files made here; what the
// window writes is checked with the ffmpeg command line.
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTest>
#include <QMenu>
#include <QTimer>
#include <csignal>

#include "WindowTestSupport.h"
#include "components/decode/AudioDecoder.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/player/LevelMeterWidget.h"
#include "core/modTimeText.h"
#include "core/InterruptNotifier.h"
#include "core/OutputLocation.h"
#include "progressbar/XP_ProgressBar.h"
#include "support/TestSupport.h"
#include "widgets/MyButton.h"
#include "widgets/TimeFormatSlider.h"

using namespace clipwren;
using platform::MessageIcon;

namespace {

constexpr int kRate = 44100;
constexpr int64_t kClickFrame = 66150;  // 1.5 s

class WindowAudioTest : public windowtest::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(work.isValid());
        // The default output folder lies inside the temporary folder, not in the user's documents.
        storeOutputFolder(work.filePath("out"));
        source = work.filePath("source.wav");
        auto samples = testsupport::tone(kRate, 2, 3 * kRate, 440, 0.2);
        testsupport::addClick(samples, 2, kClickFrame);
        testsupport::writeWav(source, kRate, 2, samples);
    }

    void chooseOutput(const QString& path) {
        dialogs.saveAnswers = {path};
        control<MyButton>("cmdOutput")->click();
    }
    void setMarks(const QString& begin, const QString& end) {
        control<QLineEdit>("txtBeginMark")->setText(begin);
        control<QLineEdit>("txtEndMark")->setText(end);
    }
    void save() { control<MyButton>("cmdCutAndSave")->click(); }
    // The window shown and active, so that its keys reach it, with the source loaded.
    void openActiveWithTheSource() {
        frmMain& w = open();
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        load(source);
    }
    // Opens the window, loads the source, cuts begin..end into name in the work folder.
    QString cut(const QString& name, const QString& begin, const QString& end) {
        open();
        load(source);
        const QString output = work.filePath(name);
        chooseOutput(output);
        setMarks(begin, end);
        save();
        return output;
    }
    static constexpr const char* kSuccess = "Audio file successfuly exported.";
    QStringList filesIn(const QString& folder) const { return QDir(folder).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir work;
    QString source;
};

}  // namespace

TEST_F(WindowAudioTest, LoadingPreparesSliderEndMarkAndTracking) {
    const QString longer = work.filePath("long.wav");
    testsupport::writeWav(longer, 8000, 1, testsupport::tone(8000, 1, 987648, 300));  // 123456 ms
    open();
    control<QLineEdit>("txtBeginMark")->setText("00:01:000");
    load(longer);
    auto* slider = control<TimeFormatSlider>("sldPosition");
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 123456);
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(text("txtEndMark"), "02:03:456");
    EXPECT_TRUE(positionTimer().isActive());
    EXPECT_EQ(text("txtOutput"), QDir::toNativeSeparators(work.filePath("out/long-part.mp3")));

    load(source);
    EXPECT_EQ(slider->maximum(), 3000);
    EXPECT_EQ(text("txtEndMark"), "00:03:000");
    EXPECT_EQ(text("txtBeginMark"), "00:01:000");
}

TEST_F(WindowAudioTest, FailedLoadIsToldAndTheWindowNoLongerShowsThePreviousSound) {
    frmMain& w = open();
    w.show();
    load(source);
    auto* slider = control<TimeFormatSlider>("sldPosition");
    ASSERT_TRUE(slider->showsWaveform());
    control<QLineEdit>("txtBeginMark")->setText("00:01:000");
    control<MyButton>("cmdPlay")->click();

    const QString notSound = work.filePath("bad.mp3");
    QFile list(notSound);
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("This is a shopping list, not a sound.\n");
    list.close();
    load(notSound);
    expectOnlyMessage("File could not be loaded.\r\nInvalid sound file\r\n" + notSound +
                          ": it is not a sound file: no format FFmpeg knows starts like it",
                      MessageIcon::Error);
    // The slider as before any load, no end mark, no position; the names are the new file's.
    EXPECT_FALSE(slider->showsWaveform());
    EXPECT_EQ(slider->maximum(), 90000);
    EXPECT_EQ(slider->value(), 0);
    EXPECT_EQ(text("txtEndMark"), "00:00:000");
    EXPECT_EQ(control<QLabel>("lblTime")->text(), "00:00:000");
    EXPECT_FALSE(positionTimer().isActive());
    EXPECT_EQ(player().State(0), 0);
    EXPECT_EQ(text("txtInput"), notSound);
    EXPECT_EQ(text("txtOutput"), QDir::toNativeSeparators(work.filePath("out/bad-part.mp3")));
    EXPECT_EQ(text("txtBeginMark"), "00:01:000");  // a mark of the user's, kept as by any load
    save();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, "Please load file first.");
}

TEST_F(WindowAudioTest, TransportButtonsDriveThePlayerAndTheTimerShowsThePosition) {
    open();
    load(source);
    SoundPlayer& player = this->player();
    control<MyButton>("cmdPause")->click();
    EXPECT_EQ(player.State(0), 0);
    control<MyButton>("cmdPlay")->click();
    EXPECT_EQ(player.State(0), 1);
    QTRY_VERIFY_WITH_TIMEOUT(ParseTimeText(control<QLabel>("lblTime")->text()).value_or(0) > 0, 10000);
    EXPECT_GT(control<TimeFormatSlider>("sldPosition")->value(), 0);
    // The player's level events reach both meters while the tone plays.
    ASSERT_EQ(meters().size(), 2u);
    QTRY_VERIFY_WITH_TIMEOUT(meters()[0]->level() > 1000, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(meters()[1]->level() > 1000, 10000);

    control<MyButton>("cmdPause")->click();
    EXPECT_EQ(player.State(0), 2);
    control<MyButton>("cmdMarkBegin")->click();
    const auto mark = ParseTimeText(text("txtBeginMark"));
    ASSERT_TRUE(mark.has_value());
    EXPECT_EQ(*mark, player.Position(0));
    control<MyButton>("cmdPause")->click();
    EXPECT_EQ(player.State(0), 1);
    control<MyButton>("cmdStop")->click();
    EXPECT_EQ(player.State(0), 0);
    // Stopped, the mark buttons leave the marks alone.
    control<MyButton>("cmdMarkEnd")->click();
    EXPECT_EQ(text("txtEndMark"), "00:03:000");
}

TEST_F(WindowAudioTest, ReleasingTheSliderSeeksThePlayer) {
    frmMain& w = open();
    w.show();
    load(source);
    auto* slider = control<TimeFormatSlider>("sldPosition");
    const QPoint rightEnd(slider->width() - 2, slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, rightEnd);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, rightEnd);
    EXPECT_EQ(slider->value(), 3000);
    EXPECT_EQ(player().Position(0), 3000);
    const QPoint middle(slider->width() / 2, slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, middle);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, middle);
    EXPECT_NEAR(player().Position(0), 1500, 30);
    EXPECT_TRUE(positionTimer().isActive());

    // From the keyboard the position moves by whole seconds, not by single milliseconds.
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(1, slider->height() / 2));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(1, slider->height() / 2));
    ASSERT_EQ(slider->value(), 0);
    QTest::keyClick(slider, Qt::Key_Right);
    EXPECT_EQ(slider->value(), 1000);
    EXPECT_EQ(player().Position(0), 1000);
    QTest::keyClick(slider, Qt::Key_End);
    QTest::keyClick(slider, Qt::Key_PageDown);
    EXPECT_EQ(player().Position(0), 0);
}

TEST_F(WindowAudioTest, PlayMarkedPlaysThePieceAndStops) {
    open();
    load(source);
    setMarks("00:01:000", "00:01:300");
    control<MyButton>("cmdPlaySelected")->click();
    EXPECT_EQ(player().State(0), 1);
    QTRY_COMPARE_WITH_TIMEOUT(player().State(0), 0, 10000);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowAudioTest, SavesExactlyTheMarkedPieceToTheChosenFileAndReportsSuccess) {
    open();
    load(source);
    const QString output = work.filePath("piece.wav");
    chooseOutput(output);
    // Text typed into the output box by hand does not change where the file goes.
    auto* box = control<QLineEdit>("txtOutput");
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, work.filePath("typed-by-hand.wav"));
    setMarks("00:01:000", "00:02:000");
    save();
    expectOnlyMessage(kSuccess, MessageIcon::None);
    // The status line names where the file went, in full under the pointer.
    auto* status = control<QLabel>("lblStatus");
    EXPECT_TRUE(status->text().startsWith("Saved: ")) << status->text().toStdString();
    EXPECT_TRUE(status->text().endsWith("piece.wav")) << status->text().toStdString();
    EXPECT_EQ(status->toolTip(), "Saved: " + output);
    EXPECT_EQ(control<XP_ProgressBar>("prgStatus")->Value(), 0);

    const auto probe = testsupport::ffprobe(output);
    EXPECT_EQ(probe.at("sample_rate"), "44100");
    EXPECT_EQ(probe.at("channels"), "2");
    const auto decoded = testsupport::ffmpegDecode(output);
    EXPECT_EQ(int64_t(decoded.size()) / 2, kRate);
    EXPECT_EQ(testsupport::firstFrameAbove(decoded, 2, 20000), kClickFrame - kRate);
    EXPECT_EQ(filesIn(work.path()), QStringList({"piece.wav", "source.wav"}));
}

TEST_F(WindowAudioTest, DamagedInputIsSavedWithAWarningThatSaysHowMuchBecameSilence) {
    const QString damaged = work.filePath("damaged.m4a");
    testsupport::ffmpegConvert(source, damaged, {"-c:a", "aac"});
    QFile file(damaged);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.seek(file.size() / 2);
    file.write(QByteArray(400, '\0'));
    file.close();
    source = damaged;
    const QString output = cut("piece.wav", "00:00:000", "00:03:000");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith(QString(kSuccess) + "\r\nThe input is damaged: 0."))
        << dialogs.messages[0].text.toStdString();
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
    EXPECT_EQ(int64_t(testsupport::ffmpegDecode(output).size()) / 2, 3 * kRate);
}

// iPhones refuse ringtones over 40 s: a longer one saved as .m4r is saved, with a warning.
TEST_F(WindowAudioTest, LongIphoneRingtoneIsSavedWithAWarning) {
    source = work.filePath("long.wav");
    testsupport::writeWav(source, kRate, 2, testsupport::tone(kRate, 2, 41 * kRate, 440, 0.2));
    const struct { const char* name; const char* end; bool warned; } rows[] = {
        {"ring.m4r", "00:41:000", true}, {"ring40.m4r", "00:40:000", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        dialogs.messages.clear();
        const QString output = cut(row.name, "00:00:000", row.end);
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text.contains("longer than 40 seconds"), row.warned);
        EXPECT_EQ(dialogs.messages[0].icon, row.warned ? MessageIcon::Warning : MessageIcon::None);
        EXPECT_TRUE(QFileInfo::exists(output));
    }
}

TEST_F(WindowAudioTest, CapitalMp3ExtensionGetsMp3) {
    const QString output = cut("RING.MP3", "00:00:000", "00:01:000");
    expectOnlyMessage(kSuccess, MessageIcon::None);
    EXPECT_EQ(testsupport::ffprobe(output).at("codec_name"), "mp3");
}

TEST_F(WindowAudioTest, BadMarkTextIsReportedAndNothingIsWritten) {
    const QString output = cut("never.wav", "00:01:000", "2 s");
    expectOnlyMessage("The end mark is not a valid time (mm:ss:mmm).", MessageIcon::Information);
    EXPECT_FALSE(QFile::exists(output));
    // The cut has ended: the next one runs.
    setMarks("00:01:000", "00:02:000");
    save();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, kSuccess);
}

TEST_F(WindowAudioTest, BeginAfterEndIsToldAtSaveAndPlayMarked) {
    const QString output = cut("inverted.wav", "00:02:000", "00:01:000");
    expectOnlyMessage("The begin mark lies after the end mark.", MessageIcon::Information);
    EXPECT_FALSE(QFile::exists(output));
    control<MyButton>("cmdPlaySelected")->click();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1].text, "The begin mark lies after the end mark.");
    EXPECT_EQ(player().State(0), 0);
    dialogs.messages.clear();
    // Blanks around a time are no part of it.
    setMarks(" 00:01:000", "00:02:000  ");
    save();
    expectOnlyMessage(kSuccess, MessageIcon::None);
}

TEST_F(WindowAudioTest, UnwritableOutputIsAFailureThatNamesTheFileAndTheReason) {
    // A folder that cannot exist: its parent is a file.
    const QString output = cut("source.wav/under-a-file.wav", "00:00:000", "00:01:000");
    expectOnlyMessage("Export to file failed.\r\n" + GetErrorDescription(err::FileCreationFailed) + "\r\n" + output +
                          ": Not a directory",
                      MessageIcon::Error);
}

TEST_F(WindowAudioTest, TheInputIsNeverTheOutput) {
    const QByteArray original = [&] {
        QFile file(source);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    // The same file by another spelling of its path.
    const QString output = cut("./source.wav", "00:01:000", "00:02:000");
    expectOnlyMessage("Export to file failed.\r\n" + GetErrorDescription(err::FileCreationFailed) + "\r\n" + output +
                          ": this is the input file, which a cut never replaces",
                      MessageIcon::Error);
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == original);
    EXPECT_EQ(filesIn(work.path()), QStringList({"source.wav"}));
}

TEST_F(WindowAudioTest, SourceThatVanishedAfterLoadingFailsTheLoad) {
    open();
    load(source);
    chooseOutput(work.filePath("lost.wav"));
    QFile garbage(source);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
    garbage.write("not a sound at all");
    garbage.close();
    save();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith("File could not be loaded.\r\n")) << dialogs.messages[0].text.toStdString();
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(QFile::exists(work.filePath("lost.wav")));
}

TEST_F(WindowAudioTest, SecondClickDuringACutIsIgnoredSilentlyAndOtherControlsWork) {
    frmMain& w = open();
    load(source);
    const QString output = work.filePath("once.wav");
    chooseOutput(output);
    setMarks("00:00:500", "00:02:500");
    QString tempoDuringCut;
    QTimer::singleShot(0, &w, [&] {
        control<MyButton>("cmdCutAndSave")->click();
        control<TimeFormatSlider>("sldTempo")->setValue(20);
        tempoDuringCut = control<QLabel>("lblTempo")->text();
    });
    save();
    EXPECT_EQ(tempoDuringCut, "120%");
    expectOnlyMessage(kSuccess, MessageIcon::None);
    EXPECT_EQ(int64_t(testsupport::ffmpegDecode(output).size()) / 2, 2 * kRate);
}

TEST_F(WindowAudioTest, MarksSetWhileLoadingAreTheOnesCut) {
    frmMain& w = open();
    load(source);
    const QString output = work.filePath("late-marks.wav");
    chooseOutput(output);
    setMarks("00:00:000", "00:00:100");
    QTimer::singleShot(0, &w, [&] { setMarks("00:01:000", "00:01:250"); });
    save();
    expectOnlyMessage(kSuccess, MessageIcon::None);
    EXPECT_EQ(int64_t(testsupport::ffmpegDecode(output).size()) / 2, kRate / 4);
}

// Closed by its close button or ended by a signal (a logout, `kill`), wired as main()
// wires it: the cut stops and its temporary file goes. Esc stops the cut alone: the
// window stays, usable, and its status line says so.
TEST_F(WindowAudioTest, ClosingTheWindowOrASignalOrEscDuringACutCancelsItCleanly) {
    const QString longer = work.filePath("long.wav");
    testsupport::writeWav(longer, kRate, 2, testsupport::tone(kRate, 2, 120 * kRate, 300));
    enum class Way { CloseButton, Signal, Esc };
    for (const Way way : {Way::CloseButton, Way::Signal, Way::Esc}) {
        SCOPED_TRACE(int(way));
        frmMain& w = open();
        InterruptNotifier interrupts;
        QObject::connect(&interrupts, &InterruptNotifier::interrupted, &w, &QWidget::close);
        w.show();
        load(longer);
        const QString output = work.filePath("cancelled.mp3");
        chooseOutput(output);
        setMarks("00:00:000", "02:00:000");
        bool ended = false;
        QObject::connect(&cutter(), &SoundEditor::ExportProgress, &w, [&](qint32 percent) {
            // Once part of the cut is in the temporary file.
            if (ended || percent < 1) return;
            ended = true;
            EXPECT_EQ(filesIn(work.path()).size(), 3u);
            if (way == Way::Signal) std::raise(SIGTERM);
            if (way == Way::CloseButton) w.close();
            // Wherever the focus is, a mark box's included.
            if (way == Way::Esc) QTest::keyClick(control<QLineEdit>("txtBeginMark"), Qt::Key_Escape);
        });
        if (way == Way::Esc) {
            w.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
            control<QLineEdit>("txtBeginMark")->setFocus();
        }
        save();
        EXPECT_TRUE(ended);
        EXPECT_EQ(w.isVisible(), way == Way::Esc);
        EXPECT_TRUE(dialogs.messages.empty());
        if (way == Way::Esc) {
            EXPECT_EQ(control<QLabel>("lblStatus")->text(), "Save cancelled: no file was written.");
            EXPECT_EQ(filesIn(work.path()), QStringList({"long.wav", "source.wav"}));
            // Usable: the next save goes through.
            setMarks("00:00:000", "00:00:500");
            save();
            expectOnlyMessage(kSuccess, MessageIcon::None);
            QFile::remove(output);
        }
        window.reset();
        EXPECT_EQ(filesIn(work.path()), QStringList({"long.wav", "source.wav"}));
    }
}

// No sound device, at start-up or later: the status line says so once, without a
// message box, playing goes on silently, and the line clears when the playing player
// finds the device again by itself. A cut's progress has the line while it runs and
// gives it back.
TEST_F(WindowAudioTest, NoSoundDeviceIsToldInTheStatusLineUntilSoundWorksAgain) {
    const QString notice = QStringLiteral("No sound device: playing silently.");
    sound.loseDevice();
    open();
    load(source);
    auto* status = control<QLabel>("lblStatus");
    QTRY_COMPARE(status->text(), notice);
    control<MyButton>("cmdPlay")->click();
    EXPECT_EQ(player().State(0), SoundPlayer::Playing);
    QTRY_VERIFY(player().Position(0) > 200);
    emit cutter().LoadProgress(42);
    emit cutter().LoadCompleted(0);
    EXPECT_EQ(status->text(), notice);

    sound.restoreDevice();
    QTRY_COMPARE(status->text(), QString());
    EXPECT_EQ(player().State(0), SoundPlayer::Playing);
    QTRY_VERIFY(sound.handedFrames() > 0);

    sound.loseDevice();
    QTRY_COMPARE(status->text(), notice);
    EXPECT_EQ(player().State(0), SoundPlayer::Playing);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowAudioTest, SliderShowsTheSoundAndADraggedFlagMovesTheMarkAndTheCut) {
    frmMain& w = open();
    w.show();
    loadAndWaitForPicture(source);
    auto* slider = control<TimeFormatSlider>("sldPosition");
    EXPECT_TRUE(slider->showsWaveform());
    EXPECT_EQ(slider->mark(TimeFormatSlider::Mark::Begin), 0);
    EXPECT_EQ(slider->mark(TimeFormatSlider::Mark::End), 3000);
    // A mark typed outside the sound has no flag.
    setMarks("00:00:000", "00:04:000");
    EXPECT_FALSE(slider->mark(TimeFormatSlider::Mark::End).has_value());
    setMarks("00:00:000", "00:03:000");

    // Zoomed in as far as it goes, one pixel is one millisecond: the begin flag, taken by
    // its staff, moves by exactly the pixels it is dragged, and its box follows.
    setMarks("00:00:990", "00:03:000");
    slider->zoomBy(1000, 990);
    const QPoint staff(slider->xOf(990), slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, staff);
    QTest::mouseMove(slider, staff + QPoint(4, 0));
    EXPECT_EQ(text("txtBeginMark"), "00:00:994");
    QTest::mouseMove(slider, staff + QPoint(10, 0));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, staff + QPoint(10, 0));
    EXPECT_EQ(text("txtBeginMark"), "00:01:000");
    const int32_t begin = 1000;
    EXPECT_EQ(player().Position(0), 0);
    EXPECT_EQ(control<QLabel>("lblLength")->text(), "00:02:000");

    // The saved piece starts at the dragged mark: the click at 1.5 s lies that much earlier in it.
    const QString output = work.filePath("dragged.wav");
    chooseOutput(output);
    save();
    expectOnlyMessage(kSuccess, MessageIcon::None);
    const auto decoded = testsupport::ffmpegDecode(output);
    EXPECT_EQ(int64_t(decoded.size()) / 2, decode::msToFrames(3000 - begin, kRate));
    EXPECT_EQ(testsupport::firstFrameAbove(decoded, 2, 20000), kClickFrame - decode::msToFrames(begin, kRate));

    // After a load that fails, the slider is the plain one again.
    load(work.filePath("missing.wav"));
    EXPECT_FALSE(slider->showsWaveform());
}

// Also run under a window manager on a private X server (tests/window/CMakeLists.txt),
// where the window is really active and window-wide keys compete with the focused control's.
// Seventy seconds of silence with a click at 63.250 s: the wheel over the click in the
// whole picture zooms in around it down to a millisecond a pixel, where the samples,
// read in the background, show the click as a line at its own pixel.
TEST_F(WindowAudioTest, DeepestZoomShowsTheClickAt63250MillisecondsAtItsPixel) {
    constexpr int kLowRate = 8000;
    const QString clicked = work.filePath("click.wav");
    auto samples = testsupport::silence(1, 70 * kLowRate);
    testsupport::addClick(samples, 1, 63250 * kLowRate / 1000);
    testsupport::writeWav(clicked, kLowRate, 1, samples);
    frmMain& w = open();
    w.show();
    loadAndWaitForPicture(clicked);
    auto* slider = control<TimeFormatSlider>("sldPosition");
    for (int notches = 0; notches < 3; ++notches) {
        const QPointF at(slider->xOf(63250), slider->height() / 2);
        QWheelEvent wheel(at, slider->mapToGlobal(at), {}, QPoint(0, 4 * 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(slider, &wheel);
    }
    const TimeFormatSlider::View view = slider->view();
    EXPECT_NEAR(view.to - view.from, slider->xOf(int(view.to)) - slider->xOf(int(view.from)), 1.0);
    // Columns drawn high above the silent centre line: the samples make one narrow line,
    // where the envelope before them made a block a peak (32 ms) wide.
    const auto tallColumns = [&] {
        const QImage image = slider->grab().toImage();
        const QRgb quiet = image.pixel(slider->xOf(int(view.from)) + 2, 4);
        std::vector<int> columns;
        for (int x = slider->xOf(int(view.from)); x <= slider->xOf(int(view.to)); ++x)
            if (image.pixel(x, 4) != quiet) columns.push_back(x);
        return columns;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!tallColumns().empty() && tallColumns().size() <= 2, 20000);
    EXPECT_NEAR(tallColumns().front(), slider->xOf(63250), 1);
    // 0 shows the whole sound again; + zooms in around the play head, the value unchanged.
    for (const auto& [key, zoomed] : {std::pair{Qt::Key_0, false}, std::pair{Qt::Key_Plus, true}}) {
        QTest::keyClick(slider, key);
        EXPECT_EQ(slider->isZoomed(), zoomed) << key;
    }
    EXPECT_EQ(slider->value(), 0);
}

TEST_F(WindowAudioTest, KeysMoveThePositionPlayAndSetMarksButNeverTakeAControlsOwnKeys) {
    frmMain& w = open();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    // "Browse input" has the focus from the start: Space and Return press it.
    for (int key : {Qt::Key_Space, Qt::Key_Return}) {
        control<MyButton>("cmdInput")->setFocus();
        dialogs.openAnswers = {source};
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        EXPECT_TRUE(dialogs.openAnswers.empty()) << key;
    }
    auto* slider = control<TimeFormatSlider>("sldPosition");
    // After the load the sound's keys work at once.
    EXPECT_EQ(QApplication::focusWidget(), slider);
    const auto press = [](int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    };

    // Stopped, the position moves by a second and by ten, within the sound.
    const struct { int key; int32_t position; } moves[] = {
        {Qt::Key_Right, 1000}, {Qt::Key_PageUp, 3000}, {Qt::Key_Left, 2000}, {Qt::Key_PageDown, 0}};
    for (const auto& m : moves) {
        press(m.key);
        EXPECT_EQ(player().Position(0), m.position) << m.key;
        EXPECT_EQ(slider->value(), m.position) << m.key;
    }

    // Stopped where the user put the position, I and O take the marks from it, as they do
    // while paused; Shift+arrows go back to them.
    press(Qt::Key_Right);
    const int32_t beginAt = player().Position(0);
    press(Qt::Key_I);
    press(Qt::Key_Right);
    const int32_t endAt = player().Position(0);
    press(Qt::Key_O);
    EXPECT_EQ(text("txtBeginMark"), FormatTimeText(beginAt));
    EXPECT_EQ(text("txtEndMark"), FormatTimeText(endAt));
    press(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(player().Position(0), beginAt);
    press(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(player().Position(0), endAt);
    EXPECT_EQ(player().State(0), 0);
    // Space plays, pauses and resumes.
    for (int32_t state : {1, 2, 1, 2}) {
        press(Qt::Key_Space);
        EXPECT_EQ(player().State(0), state);
    }

    // A focused button takes Space and Return for itself: they press it, and the player
    // stays paused.
    const struct { const char* button; int key; const char* mark; } buttons[] = {
        {"cmdClearBegin", Qt::Key_Space, "txtBeginMark"}, {"cmdClearEnd", Qt::Key_Return, "txtEndMark"}};
    for (const auto& b : buttons) {
        control<MyButton>(b.button)->setFocus();
        press(b.key);
        EXPECT_EQ(text(b.mark), "00:00:000") << b.button;
        EXPECT_EQ(player().State(0), 2) << b.button;
    }
    control<MyButton>("cmdStop")->setFocus();
    press(Qt::Key_Space);
    EXPECT_EQ(player().State(0), 0);
    setMarks(FormatTimeText(beginAt), FormatTimeText(endAt));
    slider->setFocus();
    press(Qt::Key_P);
    EXPECT_EQ(player().State(0), 1);

    // A time typed into a mark box, then Return (plays the piece) and Space meant as pause:
    // the blank typed after the time does not break the mark.
    auto* begin = control<QLineEdit>("txtBeginMark");
    begin->setFocus();
    begin->selectAll();
    QTest::keyClicks(begin, "00:01:250");
    press(Qt::Key_Return);
    EXPECT_EQ(player().State(0), 1);
    press(Qt::Key_Space);
    EXPECT_EQ(begin->text(), "00:01:250 ");
    EXPECT_EQ(slider->mark(TimeFormatSlider::Mark::Begin), 1250);
    EXPECT_TRUE(begin->toolTip().isEmpty());
    // A text that is no time is shown at once: framed in red, the reason in the tooltip.
    press(Qt::Key_X);
    EXPECT_EQ(begin->toolTip(), "The begin mark is not a valid time (mm:ss:mmm).");
    const QColor frame = begin->grab().toImage().pixelColor(1, begin->height() / 2);
    EXPECT_GT(frame.red() - frame.green(), 100) << frame.name().toStdString();
    begin->setText("00:01:000");
    control<MyButton>("cmdStop")->click();

    // In a mark box the keys type and Up/Down step the time; the position stays.
    auto* mark = control<QLineEdit>("txtEndMark");
    mark->setFocus();
    const struct { const char* from; int key; Qt::KeyboardModifiers modifiers; const char* to; } steps[] = {
        {"00:01:000", Qt::Key_Up, {}, "00:01:010"},
        {"00:01:000", Qt::Key_Down, Qt::ShiftModifier, "00:00:900"},
        {"00:01:000", Qt::Key_Up, Qt::ControlModifier, "00:02:000"},
        {"00:00:005", Qt::Key_Down, {}, "00:00:000"},
        {"00:02:500", Qt::Key_Up, Qt::ControlModifier, "00:03:000"},  // not past the sound's end
    };
    for (const auto& s : steps) {
        mark->setText(s.from);
        press(s.key, s.modifiers);
        EXPECT_EQ(mark->text(), s.to) << s.from;
    }
    const int32_t position = player().Position(0);
    mark->setText("00:01:000");
    mark->setCursorPosition(0);
    for (int key : {Qt::Key_Space, Qt::Key_PageUp, Qt::Key_I}) press(key);
    EXPECT_EQ(mark->text(), " i00:01:000");
    EXPECT_EQ(player().State(0), 0);
    EXPECT_EQ(player().Position(0), position);
    EXPECT_EQ(text("txtBeginMark"), "00:01:000");
}

// Undo (Ctrl+Z) and redo (Ctrl+Shift+Z, Ctrl+Y) step through the marks' changes, each kept
// once however it was made: text typed in a box (once the box loses the focus), a button,
// a key, a dragged flag. A change after an undo drops what could be redone.
TEST_F(WindowAudioTest, UndoAndRedoStepThroughTheMarksHoweverTheyWereSet) {
    openActiveWithTheSource();
    auto* play = control<MyButton>("cmdPlay");
    play->setFocus();
    const auto press = [](int key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), modifiers);
    };
    const auto marks = [&] { return text("txtBeginMark") + " " + text("txtEndMark"); };
    const std::function<void()> changes[] = {
        [&] {
            auto* box = control<QLineEdit>("txtBeginMark");
            box->setFocus();
            box->selectAll();
            QTest::keyClicks(box, "00:00:500");
            play->setFocus();
        },
        [&] { control<MyButton>("cmdClearEnd")->click(); },
        [&] {
            press(Qt::Key_Space);
            press(Qt::Key_Space);  // paused
            press(Qt::Key_Right);
            press(Qt::Key_O);
            control<MyButton>("cmdStop")->click();
        },
        [&] {
            auto* slider = control<TimeFormatSlider>("sldPosition");
            const QPoint grab = slider->flagRect(TimeFormatSlider::Mark::Begin).center();
            QTest::mousePress(slider, Qt::LeftButton, {}, grab);
            for (int dx : {5, 10, 15}) QTest::mouseMove(slider, grab + QPoint(dx, 0));
            QTest::mouseRelease(slider, Qt::LeftButton, {}, grab + QPoint(15, 0));
            play->setFocus();
        },
    };
    QStringList kept{marks()};
    for (const auto& change : changes) {
        change();
        ASSERT_NE(marks(), kept.back());
        kept << marks();
    }
    for (int i = int(kept.size()) - 2; i >= 0; --i) {
        press(Qt::Key_Z, Qt::ControlModifier);
        EXPECT_EQ(marks(), kept[i]);
    }
    press(Qt::Key_Z, Qt::ControlModifier);  // nothing before the load
    EXPECT_EQ(marks(), kept[0]);
    press(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(marks(), kept[1]);
    press(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(marks(), kept[2]);
    control<MyButton>("cmdClearBegin")->click();
    const QString changed = marks();
    press(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(marks(), changed);
    press(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(marks(), kept[2]);
}

// The position slider's menu, reached from the keyboard, sets the fades and normalization:
// kept in the settings, drawn over the slider, heard in "Play marked"; L loops it, as the
// status line says, each pass with its fades; "Save selection" saves what was heard.
TEST_F(WindowAudioTest, SliderMenuSetsTheFadesHeardInALoopedPlayMarked) {
    openActiveWithTheSource();
    auto* slider = control<TimeFormatSlider>("sldPosition");
    const QImage plain = slider->grab().toImage();
    control<MyButton>("cmdPlay")->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
    auto* menu = control<QMenu>("PieceOptionsMenu");
    ASSERT_TRUE(menu->isVisible());
    const auto action = [](const QMenu* in, const QString& text) -> QAction* {
        for (QAction* a : in->actions())
            if (a->text() == text) return a;
        ADD_FAILURE() << text.toStdString();
        return nullptr;
    };
    action(action(menu, "Fade in")->menu(), "1 s")->trigger();
    action(action(menu, "Fade out")->menu(), "0.5 s")->trigger();
    action(menu, "Normalize loudness")->trigger();
    menu->hide();
    EXPECT_EQ(settings.value("Options", "FadeIn", {}), "1");
    EXPECT_EQ(settings.value("Options", "FadeOut", {}), "0.5");
    EXPECT_EQ(settings.value("Options", "NormalizeLoudness", {}), "1");
    EXPECT_EQ(settings.value("Options", "LoudnessTarget", {}), "-14");
    EXPECT_NE(slider->grab().toImage(), plain);  // the ramps

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_L);
    EXPECT_TRUE(control<QLabel>("lblStatus")->text().startsWith("Loop on")) << control<QLabel>("lblStatus")->text().toStdString();
    setMarks("00:00:000", "00:01:000");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P);
    constexpr int64_t kPass = 48000;
    QTRY_VERIFY_WITH_TIMEOUT(sound.frames() >= 2 * kPass + 100, 20000);
    EXPECT_EQ(player().State(0), 1);
    control<MyButton>("cmdStop")->click();
    // Each pass rises from silence and falls back to it; the middle is heard.
    for (int64_t pass : {0, 1}) {
        EXPECT_EQ(sound.sample(pass * kPass, 0), 0.0f) << pass;
        EXPECT_EQ(sound.sample(pass * kPass + kPass - 1, 0), 0.0f) << pass;
        float middle = 0;
        for (int64_t i = 0; i < 200; ++i) middle = std::max(middle, std::fabs(sound.sample(pass * kPass + kPass / 2 + i, 0)));
        EXPECT_GT(middle, 0.1f) << pass;
    }
    // Saved as it was heard: silent at both ends, at the loudness asked.
    const QString output = work.filePath("faded.wav");
    chooseOutput(output);
    save();
    expectOnlyMessage(kSuccess, MessageIcon::None);
    const auto saved = testsupport::ffmpegDecode(output);
    ASSERT_EQ(int64_t(saved.size()) / 2, kRate);
    EXPECT_EQ(saved.front(), 0);
    EXPECT_EQ(saved.back(), 0);
    EXPECT_NEAR(testsupport::ffmpegLoudness(output).integratedLufs, -14.0, 0.5);

    // Kept for the next run.
    window.reset();
    open();
    menu = control<QMenu>("PieceOptionsMenu");
    EXPECT_TRUE(action(action(menu, "Fade in")->menu(), "1 s")->isChecked());
    EXPECT_TRUE(action(action(menu, "Fade out")->menu(), "0.5 s")->isChecked());
    EXPECT_TRUE(action(menu, "Normalize loudness")->isChecked());
}
