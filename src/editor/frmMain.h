#pragma once
// The main window: every control the user works with, the two hosted audio
// components and the window-wide state the handlers share.
#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "components/player/SoundPlayer.h"
#include "components/soundeditor/SoundEditor.h"
#include "components/waveform/SampleReader.h"
#include "components/waveform/WaveformLoader.h"
#include "core/CutJob.h"
#include "core/SettingsStore.h"
#include "editor/MarkHistory.h"
#include "folderbrowser/modBrowseForFolderNew.h"
#include "platform/Dialogs.h"
#include "platform/DocumentOpener.h"
#include "widgets/TimeFormatSlider.h"

class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;

namespace clipwren {

class FadeRampLayer;
class MyButton;
class PieceOptionsMenu;
class XP_ProgressBar;

// Start-up could not ready a component or a level meter; the program cannot run.
class StartUpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Window lengths are given in twips; 15 twips make one pixel at 96 dots per inch.
// Halves go to the even neighbour.
int TwipsToPixels(int twips);

// The open and save dialogs' filter, in "Description|pattern|" form.
extern const QString kAudioFileFilter;
// The save dialog's: the same, and the iPhone's ringtone type.
extern const QString kSaveFileFilter;
// The publisher's home page, opened by the logo button.
extern const QString kPublisherAddress;

// What the window asks the world for, made by main() (the real ones) or by a test
// (its fakes); none is owned by the window, and each must outlive it.
struct WindowServices {
    platform::DialogProvider& dialogs;
    platform::DocumentOpener& opener;
    SettingsStore& settings;
    // Where the pictures of opened sounds are kept.
    const waveform::PeakCache& peakCache;
    // Where the player's sound goes.
    player::AudioOutputFactory& soundOutputs;
};

class frmMain : public QWidget {
    Q_OBJECT
public:
    // Builds the window and runs its start-up; throws StartUpError when a component
    // or a level meter cannot be readied.
    explicit frmMain(const WindowServices& services, QWidget* parent = nullptr);
    ~frmMain() override;

    // A file handed over by the desktop ("Open with") or dropped on the window: an
    // existing file of an offered audio type is loaded as if chosen in the open dialog.
    // False, and nothing changed, for any other path.
    bool openAudioFile(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private slots:
    void cmdInput_Click();
    void cmdOutput_Click();
    void cmdOutputFolder_Click();
    void cmdCutAndSave_Click();
    void cmdPlay_Click();
    void cmdPause_Click();
    void cmdStop_Click();
    void cmdPlaySelected_Click();
    void cmdMarkBegin_Click();
    void cmdMarkEnd_Click();
    void cmdClearBegin_Click();
    void cmdClearEnd_Click();
    void cmdTempoReset_Click();
    void cmdHelp_Click();
    void cmdVantrel_Click();
    void tmrPosition_Timer();
    void sldPosition_UserStartsMoving();
    void sldPosition_UserEndsMoving();
    void sldPosition_MarkMoved(TimeFormatSlider::Mark mark, int value);
    // The slider's view changed: the finest picture of it at hand, and samples asked for
    // where the envelope is too coarse.
    void sldPosition_ViewChanged();
    void Samples_Ready();
    void sldTempo_ValueChanged(int value);
    void Waveform_Changed();
    void Player_LevelsChanged(qint16 player, qint16 left, qint16 right);
    void Player_PlayingSilentlyChanged(qint16 player, bool silently);
    void Cutter_LoadProgress(qint16 percent);
    void Cutter_LoadCompleted(qint32 result);
    void Cutter_CropProgress(qint32 unused, qint16 percent);
    void Cutter_CropCompleted(qint32 result, qint32 unused);
    void Cutter_ExportProgress(qint32 percent);
    void Cutter_ExportCompleted(qint32 result);

private:
    void buildControls();
    void Form_Load();
    void Form_Unload();
    int32_t SetUpVuMeter(QWidget* box);
    // Steps shared by the open dialog and a dropped file: show, name the output, load.
    void loadInputFile(const QString& path);
    // The window as before any load: slider, end mark, position and tracking.
    void showNoSound();
    // Shows a path in a text box from its start; the window keeps the path itself.
    static void showPath(QLineEdit* box, const QString& path);
    void setMarkFromPlayer(QLineEdit* mark);
    // The I and O keys: the play head's position once a sound is loaded, whatever the state.
    void setMarkFromPosition(QLineEdit* mark);
    // A mark box's time, blanks around it ignored; none when the text is no time.
    static std::optional<int32_t> markTime(const QLineEdit* box);
    QString whyNotATime(const QLineEdit* box) const;
    // The marks' flags on the slider follow the mark boxes' text.
    void showMarkFlags();
    // The picture of the part of the sound in view; mayRead: samples not read yet are asked for.
    void showViewPicture(bool mayRead);
    // A mark's text changed: its flag follows, and the change is kept for undo, except
    // while the user types in a mark box or drags a flag (kept when that ends).
    void marksChanged();
    void recordMarks();
    void restoreMarks(const std::optional<MarkTexts>& marks);
    // Window-wide keys, inactive while a text box has the focus; Up and Down in a mark
    // box and Enter there (eventFilter).
    void addShortcuts();
    void playOrPause();
    void jumpToMark(QLineEdit* mark);
    // Up and Down in a mark box change its time by 10 ms (Shift 100 ms, Ctrl 1 s).
    bool stepMark(QLineEdit* mark, const QKeyEvent& key);
    // The mark boxes' text in milliseconds, or none after a message naming the bad mark.
    std::optional<CutRange> readMarks();
    void showMessage(const QString& text, platform::MessageIcon icon);
    void showProgress(const QString& phase, int32_t percent);
    void clearProgress();
    // Esc while "Save selection" runs: the cut stops and leaves no file.
    void cancelSave();
    // What the status line says when nothing runs: the loop and the sound device.
    QString idleStatus() const;
    void toggleLoop();
    // The position slider's context menu, at the pointer or, from the keyboard, under the slider.
    void showPieceOptions(const QPoint& atSlider);
    // Fades and normalization chosen: heard in "Play marked", drawn on the slider.
    void applyShaping(const processing::Shaping& shaping);

    // Hosted components, children named "Cutter" and "Player": no visible part.
    SoundEditor cutter_;
    SoundPlayer player_;
    QTimer tmrPosition_;
    WindowServices services_;
    modBrowseForFolderNew folderBrowser_;
    // Load, crop and export of "Save selection" on the hosted editor.
    CutJob cutJob_;
    // The picture of the loaded sound in the position slider; a child named "Waveform".
    waveform::WaveformLoader waveform_;
    // The samples of the part in view when the slider is zoomed in beyond the envelope; a
    // child named "Samples".
    waveform::SampleReader samples_;

    QLineEdit* txtInput = nullptr;
    MyButton* cmdInput = nullptr;
    QLineEdit* txtOutput = nullptr;
    MyButton* cmdOutputFolder = nullptr;
    MyButton* cmdOutput = nullptr;
    TimeFormatSlider* sldPosition = nullptr;
    QGroupBox* Frame1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* txtBeginMark = nullptr;
    QLabel* lblTime = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* txtEndMark = nullptr;
    // The length of the marked piece, between the begin mark and the position.
    QLabel* lblLengthCaption = nullptr;
    QLabel* lblLength = nullptr;
    QGroupBox* fraConvertPreview = nullptr;
    MyButton* cmdPlay = nullptr;
    MyButton* cmdPause = nullptr;
    MyButton* cmdMarkBegin = nullptr;
    MyButton* cmdMarkEnd = nullptr;
    MyButton* cmdClearBegin = nullptr;
    MyButton* cmdClearEnd = nullptr;
    MyButton* cmdPlaySelected = nullptr;
    MyButton* cmdStop = nullptr;
    QGroupBox* fraSpeed = nullptr;
    TimeFormatSlider* sldTempo = nullptr;
    QLabel* lblTempo = nullptr;
    MyButton* cmdTempoReset = nullptr;
    QWidget* PictureVuMeterLeft = nullptr;
    QWidget* PictureVuMeterRight = nullptr;
    MyButton* cmdCutAndSave = nullptr;
    XP_ProgressBar* prgStatus = nullptr;
    QLabel* lblStatus = nullptr;
    MyButton* cmdHelp = nullptr;
    MyButton* cmdVantrel = nullptr;

    // The fades and loudness of the marked piece; a child named "PieceOptionsMenu".
    PieceOptionsMenu* pieceOptions_ = nullptr;
    FadeRampLayer* fadeRamps_ = nullptr;

    QString outputFolder_;
    QString outputPath_;
    int32_t leftMeterId_ = 0;
    int32_t rightMeterId_ = 0;

    bool cutBusy_ = false;
    // Raised by the editor's completion events; "Save selection" waits for each in turn.
    bool loadDone_ = false;
    bool cropDone_ = false;
    bool exportDone_ = false;
    // Set when the window closes while a cut waits, so the cut unwinds quietly.
    bool closing_ = false;
    // What the running cut was asked for, once asked: its marks and its output.
    std::optional<CutRange> cutMarks_;
    QString savingTo_;
    // Set by Esc during a cut: the cut ends as cancelled, without a message box.
    bool saveCancelled_ = false;
    // No sound device works: the status line says so between operations.
    bool playingSilently_ = false;
    // "Play marked" starts again at the begin mark when it reaches the end mark.
    bool loopMarked_ = false;

    MarkHistory markHistory_;
    bool restoringMarks_ = false;  // undo or redo writes the marks
    bool draggingMark_ = false;    // a flag is being dragged: kept when released
};

}  // namespace clipwren
