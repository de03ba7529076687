#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QStandardPaths>
#include <cstring>

#include "WindowTestSupport.h"
#include "components/player/LevelMeterWidget.h"
#include "core/modSpecialFolders.h"
#include "core/OutputLocation.h"
#include "widgets/MyButton.h"

using namespace clipwren;
using windowtest::WindowTest;

TEST_F(WindowTest, StartUpSetsCaptionFixedClientAreaAndShowsTheSpeedFrame) {
    frmMain& w = open();
    EXPECT_EQ(w.windowTitle(), "Clipwren Pro");
    EXPECT_EQ(w.size(), QSize(603, 329));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(control<QGroupBox>("fraSpeed")->isHidden());
    EXPECT_FALSE(positionTimer().isActive());
}

TEST_F(WindowTest, ControlsStandAtTheirTablePositionsWithTheirTexts) {
    open();
    struct Expected {
        const char* name;
        QRect geometry;
    };
    // Twips divided by 15, each value rounded on its own; children of frames relative to the frame.
    for (const Expected& e : {Expected{"txtInput", {39, 40, 450, 22}}, Expected{"cmdInput", {497, 37, 99, 28}},
                              Expected{"txtOutput", {39, 79, 450, 22}}, Expected{"cmdOutputFolder", {5, 76, 29, 28}},
                              Expected{"sldPosition", {35, 118, 454, 24}}, Expected{"Frame1", {37, 144, 451, 50}},
                              Expected{"txtBeginMark", {9, 29, 64, 16}}, Expected{"lblTime", {163, 17, 138, 25}},
                              Expected{"txtEndMark", {367, 28, 64, 17}}, Expected{"cmdPause", {50, 15, 46, 46}},
                              Expected{"cmdPlaySelected", {331, 15, 63, 46}}, Expected{"cmdStop", {396, 15, 46, 46}},
                              Expected{"fraSpeed", {495, 143, 99, 116}}, Expected{"sldTempo", {37, 18, 32, 88}},
                              Expected{"cmdTempoReset", {71, 50, 22, 24}}, Expected{"cmdCutAndSave", {498, 268, 92, 53}},
                              Expected{"prgStatus", {36, 295, 450, 10}}, Expected{"lblStatus", {36, 310, 250, 14}},
                              Expected{"cmdHelp", {441, 5, 22, 22}}, Expected{"cmdVantrel", {467, 1, 134, 30}}}) {
        EXPECT_EQ(control(e.name)->geometry(), e.geometry) << e.name;
    }
    EXPECT_EQ(control("txtBeginMark")->parentWidget()->objectName(), "Frame1");
    EXPECT_EQ(control("cmdPlay")->parentWidget()->objectName(), "fraConvertPreview");
    EXPECT_EQ(control("sldTempo")->parentWidget()->objectName(), "fraSpeed");

    EXPECT_EQ(text("txtInput"), "choose input audio file");
    EXPECT_EQ(text("txtOutput"), "choose output audio file");
    EXPECT_EQ(text("txtBeginMark"), "00:00:000");
    EXPECT_EQ(text("txtEndMark"), "00:00:000");
    EXPECT_EQ(control<QLabel>("lblTime")->text(), "00:00:000");
    EXPECT_EQ(control<QLabel>("lblTempo")->text(), "100%");
    EXPECT_EQ(control<QLabel>("Label1")->text(), "Begin mark :");
    EXPECT_TRUE(control<QLabel>("lblStatus")->text().isEmpty());
    EXPECT_EQ(control<QGroupBox>("fraConvertPreview")->title(), "Preview");
    EXPECT_EQ(control<MyButton>("cmdPlaySelected")->text(), "Play marked");
    EXPECT_EQ(control<MyButton>("cmdPlaySelected")->toolTip(), "Insert cut point");
    EXPECT_EQ(control<MyButton>("cmdInput")->toolTip(), "Browse to source audio file");
    EXPECT_EQ(control<MyButton>("cmdVantrel")->toolTip(), "Visit Vantrel web site");
    EXPECT_TRUE(control<MyButton>("cmdOutputFolder")->text().isEmpty());
    EXPECT_EQ(control<MyButton>("cmdOutputFolder")->toolTip(), "Change output folder");
}

TEST_F(WindowTest, FontsAreSmallSansSerifWithTheBoldOnesBold) {
    open();
    for (const char* name : {"Frame1", "fraConvertPreview", "fraSpeed", "txtBeginMark", "txtEndMark", "cmdCutAndSave"})
        EXPECT_TRUE(control(name)->font().bold()) << name;
    for (const char* name : {"txtInput", "Label1", "cmdPlay", "lblTempo", "lblStatus", "sldTempo"}) {
        EXPECT_FALSE(control(name)->font().bold()) << name;
        EXPECT_DOUBLE_EQ(control(name)->font().pointSizeF(), 8.25) << name;
    }
    const QLabel* time = control<QLabel>("lblTime");
    EXPECT_DOUBLE_EQ(time->font().pointSizeF(), 13.5);
    EXPECT_EQ(time->alignment(), Qt::AlignCenter);
}

TEST_F(WindowTest, TabOrderFollowsTheTable) {
    frmMain& w = open();
    QStringList order;
    QWidget* current = control("txtInput");
    do {
        if ((current->focusPolicy() & Qt::TabFocus) && current->isVisibleTo(&w) && current != &w)
            order << current->objectName();
        current = current->nextInFocusChain();
    } while (current != control("txtInput"));
    EXPECT_EQ(order, QStringList({"txtInput", "txtOutput", "cmdInput", "cmdOutput", "cmdCutAndSave", "cmdPlay",
                                  "cmdStop", "cmdOutputFolder", "cmdVantrel", "cmdHelp", "cmdPause", "cmdMarkBegin",
                                  "cmdMarkEnd", "cmdClearBegin", "cmdClearEnd", "cmdPlaySelected", "txtBeginMark",
                                  "txtEndMark", "cmdTempoReset", "sldPosition", "sldTempo"}));
}

TEST_F(WindowTest, LevelMetersLieOverThePictureBoxesWithTheProgramsLook) {
    open();
    ASSERT_EQ(meters().size(), 2u);
    const LevelMeterWidget* left = meters()[0];
    const LevelMeterWidget* right = meters()[1];
    EXPECT_EQ(left->geometry(), QRect(36, 272, 223, 10));
    EXPECT_EQ(right->geometry(), QRect(264, 272, 223, 10));
    EXPECT_EQ(left->maximum(), 32767);

    const MeterLook look = right->look();
    const MeterLook filled = LevelMeterWidget::defaultLook();
    const auto* bytes = reinterpret_cast<const unsigned char*>(&look);
    const auto* original = reinterpret_cast<const unsigned char*>(&filled);
    // The bytes the program leaves alone are exactly as the component filled them.
    EXPECT_EQ(std::memcmp(bytes + 6, original + 6, 6), 0);
    EXPECT_EQ(std::memcmp(bytes + 24, original + 24, 4), 0);
    const unsigned char written[] = {1, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes, written, 6), 0);
    const unsigned char colours[] = {0x08, 0xC1, 0xF0, 0x00, 0xE4, 0x3E, 0x0E, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
    EXPECT_EQ(std::memcmp(bytes + 12, colours, 12), 0);
}

TEST_F(WindowTest, LevelEventsMoveTheTwoMeters) {
    open();
    emit player().LevelsChanged(0, 1000, 32767);
    QCoreApplication::processEvents();
    ASSERT_EQ(meters().size(), 2u);
    EXPECT_EQ(meters()[0]->level(), 1000);
    EXPECT_EQ(meters()[1]->level(), 32767);
}

TEST_F(WindowTest, FirstRunUsesTheDocumentsFolderAndWritesNothing) {
    open();
    const QString expected = QDir::toNativeSeparators(
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)) + "/My Ringtones");
    EXPECT_EQ(outputFolderOfNextLoad(), expected);
    window->close();
    window.reset();
    EXPECT_FALSE(QFile::exists(settings.filePath()));
}

TEST_F(WindowTest, StoredFolderIsUsedAndAStoredEmptyOneMeansTheDefault) {
    storeOutputFolder("/srv/tones");
    open();
    EXPECT_EQ(outputFolderOfNextLoad(), "/srv/tones");
    window.reset();
    // Not the root of the file system.
    storeOutputFolder("");
    open();
    EXPECT_EQ(outputFolderOfNextLoad(), OutputLocation::defaultFolder());
    EXPECT_EQ(storedOutputFolder(), "");
}

TEST_F(WindowTest, ClosingTheWindowClosesTheProgramsOtherWindowsAndStoresNothing) {
    frmMain& w = open();
    w.show();
    QWidget older, newer;
    older.show();
    newer.show();
    w.close();
    EXPECT_FALSE(older.isVisible());
    EXPECT_FALSE(newer.isVisible());
    EXPECT_FALSE(QFile::exists(settings.filePath()));
}
