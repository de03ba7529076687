// The window's handlers that need no sound: dialogs, settings, marks, tempo label,
// progress texts, help and web link.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include "WindowTestSupport.h"
#include <QGuiApplication>
#include <QScreen>

#include "folderbrowser/FolderBrowseDialog.h"
#include "core/OutputLocation.h"
#include "progressbar/XP_ProgressBar.h"
#include "widgets/MyButton.h"
#include "widgets/TimeFormatSlider.h"

using namespace clipwren;
using platform::MessageIcon;
using windowtest::WindowTest;

namespace {

const QString kFilter =
    "All supported audio formats |*.wav;*.mp3;*.wma;*.mp4;*.aac;*.m4a;*.ogg|MP3 sounds (*.mp3)|*.mp3|"
    "AAC and MP4 sounds (*.aac;*.mp4;*.m4a)|*.aac;*.mp4;*.m4a|WAV sounds (*.wav)|*.wav|"
    "OGG Vorbis sounds (*.ogg)|*.ogg|Windows Media sounds (*.wma)|*.wma|";


}  // namespace

TEST_F(WindowTest, CancelledOpenDialogChangesNothing) {
    open();
    control<MyButton>("cmdInput")->click();
    EXPECT_EQ(dialogs.lastTitle, "Choose input audio file");
    EXPECT_EQ(dialogs.lastFilter, kFilter);
    // In Qt's form one blank stands between a description and its patterns.
    EXPECT_TRUE(platform::toQtFilter(kFilter).startsWith("All supported audio formats (*.wav *.mp3 *.wma"));
    EXPECT_EQ(text("txtInput"), "choose input audio file");
    EXPECT_EQ(text("txtOutput"), "choose output audio file");
}

TEST_F(WindowTest, QtsFileDialogWritesNoSettingsFileOfItsOwn) {
    const platform::DialogProvider realDialogs;
    const QString qtSettings = QSettings(QSettings::UserScope, "QtProject").fileName();
    // Qt's own dialog stores its last folder and view when it goes.
    { QFileDialog dialog(nullptr, "Choose input audio file", QDir::tempPath()); }
    EXPECT_FALSE(QFileInfo::exists(qtSettings)) << qtSettings.toStdString();
    EXPECT_FALSE(qtSettings.startsWith(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)));
}

TEST_F(WindowTest, ChosenInputNamesTheOutputAfterItInTheOutputFolder) {
    storeOutputFolder("/home/me/Documents/My Ringtones");
    open();
    dialogs.openAnswers = {"/music/song.mp3", "/music/voice.wav", "/a/b.c.mp3"};
    control<MyButton>("cmdInput")->click();
    EXPECT_EQ(text("txtInput"), "/music/song.mp3");
    EXPECT_EQ(text("txtOutput"), "/home/me/Documents/My Ringtones/song-part.mp3");
    control<MyButton>("cmdInput")->click();
    EXPECT_EQ(text("txtOutput"), "/home/me/Documents/My Ringtones/voice-part.mp3");
    control<MyButton>("cmdInput")->click();
    EXPECT_EQ(text("txtOutput"), "/home/me/Documents/My Ringtones/b.c-part.mp3");
}

TEST_F(WindowTest, SaveDialogStartsInTheStoredFolderAndSetsOnlyTheOutputFile) {
    storeOutputFolder("/at/start");
    open();
    storeOutputFolder("/elsewhere/tones");  // read afresh on every click
    control<MyButton>("cmdOutput")->click();
    EXPECT_EQ(dialogs.lastInitialFolder, "/elsewhere/tones");
    EXPECT_EQ(dialogs.lastTitle, "Choose output audio file");
    // The open dialog's entries and the iPhone's ringtone type.
    EXPECT_EQ(dialogs.lastFilter, kFilter + "iPhone ringtone (*.m4r)|*.m4r|");
    EXPECT_EQ(text("txtOutput"), "choose output audio file");  // cancelled

    dialogs.saveAnswers = {"/other/place/ring"};
    control<MyButton>("cmdOutput")->click();
    EXPECT_EQ(text("txtOutput"), "/other/place/ring");
    EXPECT_EQ(storedOutputFolder(), "/elsewhere/tones");
    // The output folder of the window is not changed by the choice.
    EXPECT_EQ(outputFolderOfNextLoad(), "/at/start");
}

TEST_F(WindowTest, CancelledFolderDialogStillStoresTheFolder) {
    open();
    const QString folder = OutputLocation::defaultFolder();
    EXPECT_EQ(storedOutputFolder(), "<absent>");
    dialogs.dialogSteps.push_back([&](QDialog& dialog) {
        auto& browser = static_cast<FolderBrowseDialog&>(dialog);
        EXPECT_EQ(browser.windowTitle(), "Select Destination Folder for edited MP3");
        EXPECT_EQ(browser.findChild<QLabel*>("prompt")->text(),
                  "Please select, or create a folder on your hard disk where edited MP3 copy will be saved :");
        // Opened on the output folder, or on the nearest folder that holds it while it is not made yet.
        EXPECT_TRUE(QDir::fromNativeSeparators(folder).startsWith(QDir::fromNativeSeparators(browser.selectedPath())));
        const QPoint offCentre = browser.frameGeometry().center() - QGuiApplication::primaryScreen()->geometry().center();
        EXPECT_LE(offCentre.manhattanLength(), 2);
        EXPECT_NE(browser.findChild<QWidget*>("newFolderButton"), nullptr);
        browser.reject();
        return browser.result();
    });
    control<MyButton>("cmdOutputFolder")->click();
    EXPECT_EQ(dialogs.dialogsShown, 1);
    EXPECT_EQ(storedOutputFolder(), folder);
    EXPECT_EQ(text("txtOutput"), "choose output audio file");
    EXPECT_EQ(outputFolderOfNextLoad(), folder);
}

TEST_F(WindowTest, FirstRunOkKeepsTheDefaultFolderThatIsNotMadeYet) {
    // A home of its own, whose documents folder does not exist yet.
    const QTemporaryDir home;
    const QByteArray realHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", realHome); });
    const QString folder = OutputLocation::defaultFolder();
    ASSERT_TRUE(folder.startsWith(home.path())) << folder.toStdString();
    open();
    dialogs.dialogSteps.push_back([](QDialog& dialog) {
        // Opened on the nearest folder that exists, the user takes it as it is.
        dialog.accept();
        return dialog.result();
    });
    control<MyButton>("cmdOutputFolder")->click();
    EXPECT_EQ(storedOutputFolder(), folder);
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(outputFolderOfNextLoad(), folder);
    // The save dialog opens in it, made for it: a folder not there yet would be taken for a name.
    control<MyButton>("cmdOutput")->click();
    EXPECT_EQ(dialogs.lastInitialFolder, folder);
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

TEST_F(WindowTest, MarkButtonsClearAndIgnoreAStoppedPlayer) {
    open();
    auto* begin = control<QLineEdit>("txtBeginMark");
    auto* end = control<QLineEdit>("txtEndMark");
    begin->setText("01:02:003");
    end->setText("04:05:006");
    control<MyButton>("cmdMarkBegin")->click();
    control<MyButton>("cmdMarkEnd")->click();
    EXPECT_EQ(begin->text(), "01:02:003");
    EXPECT_EQ(end->text(), "04:05:006");
    control<MyButton>("cmdClearBegin")->click();
    EXPECT_EQ(begin->text(), "00:00:000");
    EXPECT_EQ(end->text(), "04:05:006");
    control<MyButton>("cmdClearEnd")->click();
    EXPECT_EQ(end->text(), "00:00:000");
}

TEST_F(WindowTest, PlayMarkedRefusesAMarkThatIsNotATime) {
    open();
    control<QLineEdit>("txtBeginMark")->setText("1:2");
    control<MyButton>("cmdPlaySelected")->click();
    control<QLineEdit>("txtBeginMark")->setText("00:01:000");
    control<QLineEdit>("txtEndMark")->setText("01:2x:456");
    control<MyButton>("cmdPlaySelected")->click();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "The begin mark is not a valid time (mm:ss:mmm).");
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(dialogs.messages[0].caption, platform::applicationTitle());
    EXPECT_EQ(dialogs.messages[1].text, "The end mark is not a valid time (mm:ss:mmm).");
    EXPECT_EQ(player().State(0), 0);
}

TEST_F(WindowTest, SaveWithoutALoadedFileAsksForOne) {
    open();
    control<MyButton>("cmdCutAndSave")->click();
    expectOnlyMessage("Please load file first.", MessageIcon::Information);
}

TEST_F(WindowTest, EditorEventsWriteTheStatusLineAndTheBar) {
    open();
    SoundEditor& editor = cutter();
    auto* status = control<QLabel>("lblStatus");
    auto* bar = control<XP_ProgressBar>("prgStatus");
    emit editor.LoadProgress(42);
    EXPECT_EQ(status->text(), "Status : Loading file, please wait...     42 %");
    EXPECT_EQ(bar->Value(), 42);
    emit editor.LoadCompleted(0);
    EXPECT_EQ(status->text(), "");
    EXPECT_EQ(bar->Value(), 0);
    emit editor.CropProgress(7, 5);
    EXPECT_EQ(status->text(), "Status : Cropping file, please wait...     5 %");
    EXPECT_EQ(bar->Value(), 5);
    emit editor.CropCompleted(0, 0);
    emit editor.ExportProgress(100);
    EXPECT_EQ(status->text(), "Status : Exporting file, please wait...     100 %");
    EXPECT_EQ(bar->Value(), 100);
    emit editor.ExportCompleted(0);
    EXPECT_EQ(status->text(), "");
    EXPECT_EQ(bar->Value(), 0);
    // A late progress event shows again.
    emit editor.ExportProgress(-3);
    EXPECT_EQ(status->text(), "Status : Exporting file, please wait...     -3 %");
    EXPECT_EQ(bar->Value(), -3);
}

TEST_F(WindowTest, TempoLabelFollowsTheSliderAndResetReturnsToNormal) {
    open();
    auto* tempo = control<TimeFormatSlider>("sldTempo");
    auto* label = control<QLabel>("lblTempo");
    EXPECT_EQ(tempo->minimum(), -60);
    EXPECT_EQ(tempo->maximum(), 60);
    tempo->setValue(-60);
    EXPECT_EQ(label->text(), "40%");
    tempo->setValue(60);
    EXPECT_EQ(label->text(), "160%");
    control<MyButton>("cmdTempoReset")->click();
    EXPECT_EQ(tempo->value(), 0);
    EXPECT_EQ(label->text(), "100%");
}

TEST_F(WindowTest, HoldingThePositionSliderPausesTrackingAndReleasingStartsIt) {
    frmMain& w = open();
    w.show();
    auto* slider = control<TimeFormatSlider>("sldPosition");
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, slider->height() / 2));
    EXPECT_FALSE(positionTimer().isActive());
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() / 2, slider->height() / 2));
    // Even before any sound is loaded, a release starts position tracking.
    EXPECT_TRUE(positionTimer().isActive());
    EXPECT_EQ(positionTimer().interval(), 80);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(10, slider->height() / 2));
    EXPECT_FALSE(positionTimer().isActive());
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(10, slider->height() / 2));
}

TEST_F(WindowTest, HelpOpensTheDocumentNextToTheProgramOrInstalledOnlyWhenItExists) {
    open();
    const QDir programFolder(QCoreApplication::applicationDirPath());
    // Beside the program in the build tree; in the shared data folder once installed.
    for (const QString& folder : {programFolder.path(), QDir::cleanPath(programFolder.filePath("../share/clipwren"))}) {
        SCOPED_TRACE(folder.toStdString());
        opener.calls.clear();
        const QString document = QDir(folder).filePath("Clipwren.html");
        control<MyButton>("cmdHelp")->click();
        EXPECT_TRUE(opener.calls.empty());
        EXPECT_TRUE(dialogs.messages.empty());

        ASSERT_TRUE(QDir().mkpath(folder));
        QFile file(document);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        control<MyButton>("cmdHelp")->click();
        control<MyButton>("cmdHelp")->click();
        QFile::remove(document);
        ASSERT_EQ(opener.calls.size(), 2u);
        EXPECT_EQ(QDir::fromNativeSeparators(opener.calls[0].document), document);
        EXPECT_EQ(opener.calls[0].folder, QDir::rootPath());
        EXPECT_EQ(opener.calls[0].show, platform::ShowCommand::Maximized);
    }
}

TEST_F(WindowTest, LogoOpensThePublishersAddressAndIgnoresFailure) {
    open();
    control<MyButton>("cmdVantrel")->click();
    ASSERT_EQ(opener.calls.size(), 1u);
    EXPECT_TRUE(opener.calls[0].document.startsWith("https://"));
    EXPECT_EQ(opener.calls[0].show, platform::ShowCommand::Normal);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowTest, DroppedOrHandedOverAudioFileLoadsAndOtherFilesAreRefused) {
    QTemporaryDir folder;
    const QString wav = folder.filePath("dropped.wav");
    const QString notes = folder.filePath("notes.txt");
    for (const QString& path : {wav, notes}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    frmMain& w = open();
    auto drop = [&](const QString& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &enter);
        if (!enter.isAccepted()) return false;
        QDropEvent dropEvent(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&w, &dropEvent);
        return true;
    };
    EXPECT_FALSE(drop(notes));
    EXPECT_EQ(text("txtInput"), "choose input audio file");
    EXPECT_TRUE(drop(wav));
    EXPECT_EQ(text("txtInput"), wav);
    EXPECT_TRUE(text("txtOutput").endsWith("dropped-part.mp3"));

    // "Open with" from the desktop: the same rules.
    EXPECT_FALSE(w.openAudioFile(notes));
    EXPECT_FALSE(w.openAudioFile(folder.filePath("missing.wav")));
    EXPECT_EQ(text("txtInput"), wav);
    const QString other = folder.filePath("Other.MP3");
    ASSERT_TRUE(QFile::copy(wav, other));
    EXPECT_TRUE(w.openAudioFile(other));
    EXPECT_EQ(text("txtInput"), other);
    EXPECT_TRUE(text("txtOutput").endsWith("Other-part.mp3"));
}
