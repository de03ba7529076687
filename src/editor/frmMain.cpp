#include "editor/frmMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScopeGuard>
#include <QScreen>
#include <QShortcut>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <vector>

#include "components/errors/FileFailure.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/files/LocalFileName.h"
#include "components/player/LevelMeterSet.h"
#include "core/OutputLocation.h"
#include "core/modTimeText.h"
#include "editor/PieceOptionsMenu.h"
#include "progressbar/XP_ProgressBar.h"
#include "widgets/FadeRampLayer.h"
#include "widgets/FitFont.h"
#include "widgets/MyButton.h"

namespace clipwren {

const QString kAudioFileFilter = QStringLiteral(
    "All supported audio formats |*.wav;*.mp3;*.wma;*.mp4;*.aac;*.m4a;*.ogg|"
    "MP3 sounds (*.mp3)|*.mp3|"
    "AAC and MP4 sounds (*.aac;*.mp4;*.m4a)|*.aac;*.mp4;*.m4a|"
    "WAV sounds (*.wav)|*.wav|"
    "OGG Vorbis sounds (*.ogg)|*.ogg|"
    "Windows Media sounds (*.wma)|*.wma|");

const QString kSaveFileFilter = kAudioFileFilter + QStringLiteral("iPhone ringtone (*.m4r)|*.m4r|");

const QString kPublisherAddress = QStringLiteral("https://www.vantrel.com/");

namespace {

const QString kZeroTime = QStringLiteral("00:00:000");
// The position slider's range before a sound is loaded.
constexpr int kPositionDesignMaximum = 90000;
const QString kLineBreak = QStringLiteral("\r\n");
constexpr int kPositionIntervalMs = 80;
constexpr int16_t kPlayer = 0;
// iPhones refuse ringtones longer than this.
constexpr int32_t kLongestIphoneRingtoneMs = 40000;

#ifdef Q_OS_WIN
const QString kHelpFileName = QStringLiteral("Clipwren.chm");
#else
// CHM viewers are not standard here: an HTML page, next to the executable in the build
// tree and in the shared data folder once installed (CLIPWREN_HELP_DIR, relative to the
// executable's folder).
const QString kHelpFileName = QStringLiteral("Clipwren.html");
#endif

// The window's font: a sans-serif face at 8.25 points, given to each control so that
// a bold frame caption does not make the frame's contents bold as well. Where the
// layout's own face is missing, Arial's metrics (Liberation Sans has them) come
// closest to it; DejaVu Sans is wider and needs more narrowing to fit.
QFont controlFont(bool bold = false, qreal points = 8.25) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QRect twipsRect(int left, int top, int width, int height) {
    return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

template <typename Control>
Control* placeControl(Control* control, const char* name, const QRect& twips, bool bold = false) {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    control->setFont(controlFont(bold));
    return control;
}

// The extensions the open dialog's first entry lists, for accepting dropped files.
QStringList supportedExtensions() {
    const QString patterns = kAudioFileFilter.section(QLatin1Char('|'), 1, 1);
    QStringList extensions;
    for (const QString& pattern : patterns.split(QLatin1Char(';'))) extensions << pattern.mid(2).toLower();
    return extensions;
}

// An existing file of one of the offered audio types.
bool isAudioFile(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isFile() &&
           supportedExtensions().contains(QFileInfo(path).suffix().toLower());
}

// The frame of a mark box whose text is no time: red, lighter on a dark palette so that it
// reads there too.
QColor invalidMarkColour(const QPalette& palette) {
    return palette.color(QPalette::Text).lightness() > 128 ? QColor(255, 110, 110) : QColor(210, 0, 0);
}

// The one local audio file a drag carries, or empty text.
QString droppedAudioFile(const QMimeData* mime) {
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return {};
    const QString path = mime->urls().first().toLocalFile();
    return isAudioFile(path) ? path : QString();
}

}  // namespace

int TwipsToPixels(int twips) { return int(std::nearbyint(twips / 15.0)); }

frmMain::frmMain(const WindowServices& services, QWidget* parent)
    : QWidget(parent),
      player_(services.soundOutputs),
      services_(services),
      folderBrowser_(services.dialogs),
      cutJob_(cutter_),
      waveform_(services.peakCache) {
    buildControls();
    Form_Load();
}

// The hosted components end with the window; the editor's destructor cancels a
// running operation and removes its temporary file.
frmMain::~frmMain() {
    // A mark box losing the focus as the window goes must not reach the marks' history,
    // which goes before the boxes.
    for (QLineEdit* mark : {txtBeginMark, txtEndMark}) mark->disconnect(this);
}

void frmMain::buildControls() {
    setWindowTitle(QStringLiteral("Clipwren"));
    for (const auto& [part, name] : {std::pair<QObject*, const char*>{&cutter_, "Cutter"}, {&player_, "Player"},
                                     {&tmrPosition_, "tmrPosition"}, {&waveform_, "Waveform"},
                                     {&samples_, "Samples"}}) {
        part->setParent(this);
        part->setObjectName(QLatin1String(name));
    }
    setFont(controlFont());
    // A fixed layout: the client area never changes size.
    setFixedSize(TwipsToPixels(9045), TwipsToPixels(4935));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setAcceptDrops(true);

    std::vector<std::pair<int, QWidget*>> tabStops;
    auto button = [&](QWidget* container, MyButton*& control, const char* name, const QString& caption,
                      const QString& tooltip, MyButton::Picture picture, const QRect& twips, int tabIndex,
                      void (frmMain::*handler)(), bool bold = false) {
        control = placeControl(new MyButton(container), name, twips, bold);
        control->setText(caption);
        control->setToolTip(tooltip);
        control->setPicture(picture);
        connect(control, &MyButton::clicked, this, handler);
        tabStops.emplace_back(tabIndex, control);
    };
    auto textBox = [&](QWidget* container, QLineEdit*& control, const char* name, const QString& text,
                       const QRect& twips, int tabIndex, bool bold = false) {
        control = placeControl(new QLineEdit(text, container), name, twips, bold);
        control->setTextMargins(0, 0, 0, 0);
        // The mark boxes are just wide enough for a time text in the layout's own face.
        if (text == kZeroTime) control->setFont(FitFontToWidth(control->font(), text, control->width() - 8));
        control->setCursorPosition(0);
        tabStops.emplace_back(tabIndex, control);
    };
    auto label = [&](QWidget* container, QLabel*& control, const char* name, const QString& caption,
                     const QRect& twips) {
        control = placeControl(new QLabel(caption, container), name, twips);
        control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    };
    auto frame = [&](QGroupBox*& control, const char* name, const QString& caption, const QRect& twips) {
        control = placeControl(new QGroupBox(caption, this), name, twips, true);
        // The caption sits on the frame's top line, and the frame keeps its whole rectangle.
        control->setStyleSheet(QStringLiteral(
            "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
            "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px; padding: 0 2px; }"));
    };
    using Picture = MyButton::Picture;

    textBox(this, txtInput, "txtInput", QStringLiteral("choose input audio file"), {585, 600, 6750, 330}, 0);
    button(this, cmdInput, "cmdInput", QStringLiteral("Browse input"), QStringLiteral("Browse to source audio file"),
           Picture::OpenInput, {7455, 555, 1485, 420}, 2, &frmMain::cmdInput_Click);
    textBox(this, txtOutput, "txtOutput", QStringLiteral("choose output audio file"), {585, 1185, 6750, 330}, 1);
    button(this, cmdOutputFolder, "cmdOutputFolder", QString(), QStringLiteral("Change output folder"),
           Picture::Folder, {75, 1140, 435, 420}, 10, &frmMain::cmdOutputFolder_Click);
    button(this, cmdOutput, "cmdOutput", QStringLiteral("Browse output"),
           QStringLiteral("Select result file name and location"), Picture::SaveOutput, {7425, 1155, 1560, 420}, 3,
           &frmMain::cmdOutput_Click);

    sldPosition = placeControl(new TimeFormatSlider(Qt::Horizontal, this), "sldPosition", {525, 1770, 6810, 360});
    sldPosition->setRange(0, kPositionDesignMaximum);
    // Keys and the wheel move the position by seconds; single milliseconds would not be heard.
    sldPosition->setSingleStep(1000);
    sldPosition->setPageStep(10000);
    sldPosition->setTooltipFormatter([](int value) { return FormatTimeText(value); });
    connect(sldPosition, &TimeFormatSlider::userStartsMoving, this, &frmMain::sldPosition_UserStartsMoving);
    connect(sldPosition, &TimeFormatSlider::userEndsMoving, this, &frmMain::sldPosition_UserEndsMoving);
    connect(sldPosition, &TimeFormatSlider::markMoved, this, &frmMain::sldPosition_MarkMoved);
    connect(sldPosition, &TimeFormatSlider::viewChanged, this, &frmMain::sldPosition_ViewChanged);
    connect(&samples_, &waveform::SampleReader::ready, this, &frmMain::Samples_Ready);
    // A dragged flag's mark is kept for undo when the button is released (eventFilter).
    sldPosition->installEventFilter(this);
    fadeRamps_ = new FadeRampLayer(*sldPosition, processing::fadeCurve);
    pieceOptions_ = new PieceOptionsMenu(services_.settings, this);
    sldPosition->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sldPosition, &QWidget::customContextMenuRequested, this, &frmMain::showPieceOptions);
    connect(pieceOptions_, &PieceOptionsMenu::shapingChanged, this, &frmMain::applyShaping);

    frame(Frame1, "Frame1", QStringLiteral("Positions"), {555, 2160, 6765, 750});
    label(Frame1, Label1, "Label1", QStringLiteral("Begin mark :"), {135, 225, 1125, 195});
    textBox(Frame1, txtBeginMark, "txtBeginMark", kZeroTime, {135, 435, 960, 240}, 27, true);
    lblTime = placeControl(new QLabel(kZeroTime, Frame1), "lblTime", {2445, 255, 2070, 375});
    lblTime->setFont(controlFont(false, 13.5));
    lblTime->setAlignment(Qt::AlignCenter);
    label(Frame1, Label2, "Label2", QStringLiteral("End mark :"), {5505, 225, 945, 195});
    // In the free space beside the begin mark, in the marks' own form.
    label(Frame1, lblLengthCaption, "lblLengthCaption", QStringLiteral("Length :"), {1230, 225, 1125, 195});
    label(Frame1, lblLength, "lblLength", QString(), {1230, 435, 1125, 240});
    lblLength->setFont(txtBeginMark->font());
    textBox(Frame1, txtEndMark, "txtEndMark", kZeroTime, {5505, 420, 960, 255}, 28, true);
    for (QLineEdit* mark : {txtBeginMark, txtEndMark}) {
        connect(mark, &QLineEdit::textChanged, this, &frmMain::marksChanged);
        connect(mark, &QLineEdit::editingFinished, this, &frmMain::recordMarks);
    }

    frame(fraConvertPreview, "fraConvertPreview", QStringLiteral("Preview"), {555, 2895, 6765, 1005});
    const QString cutPoint = QStringLiteral("Insert cut point");
    button(fraConvertPreview, cmdPlay, "cmdPlay", QStringLiteral("Play"), QStringLiteral("Play"), Picture::Play,
           {45, 225, 690, 690}, 6, &frmMain::cmdPlay_Click);
    button(fraConvertPreview, cmdPause, "cmdPause", QStringLiteral("Pause"), QStringLiteral("Pause"),
           Picture::Pause, {756, 225, 690, 690}, 13, &frmMain::cmdPause_Click);
    button(fraConvertPreview, cmdMarkBegin, "cmdMarkBegin", QStringLiteral("Mark begin"), cutPoint,
           Picture::MarkBegin, {1467, 225, 855, 690}, 14, &frmMain::cmdMarkBegin_Click);
    button(fraConvertPreview, cmdMarkEnd, "cmdMarkEnd", QStringLiteral("Mark end"), cutPoint, Picture::MarkEnd,
           {2343, 225, 855, 690}, 19, &frmMain::cmdMarkEnd_Click);
    button(fraConvertPreview, cmdClearBegin, "cmdClearBegin", QStringLiteral("Clear begin"), cutPoint,
           Picture::ClearBegin, {3219, 225, 855, 690}, 20, &frmMain::cmdClearBegin_Click);
    button(fraConvertPreview, cmdClearEnd, "cmdClearEnd", QStringLiteral("Clear end"), cutPoint,
           Picture::ClearEnd, {4095, 225, 855, 690}, 21, &frmMain::cmdClearEnd_Click);
    button(fraConvertPreview, cmdPlaySelected, "cmdPlaySelected", QStringLiteral("Play marked"), cutPoint,
           Picture::PlayMarked, {4971, 225, 945, 690}, 22, &frmMain::cmdPlaySelected_Click);
    button(fraConvertPreview, cmdStop, "cmdStop", QStringLiteral("Stop"), QStringLiteral("Stop"), Picture::Stop,
           {5940, 225, 690, 690}, 7, &frmMain::cmdStop_Click);

    frame(fraSpeed, "fraSpeed", QStringLiteral("Speed control"), {7425, 2145, 1485, 1740});
    fraSpeed->hide();
    sldTempo = placeControl(new TimeFormatSlider(Qt::Vertical, fraSpeed), "sldTempo", {555, 270, 480, 1320});
    sldTempo->setRange(-60, 60);
    sldTempo->setValue(0);
    connect(sldTempo, &TimeFormatSlider::valueChanged, this, &frmMain::sldTempo_ValueChanged);
    lblTempo = placeControl(new QLabel(QStringLiteral("100%"), fraSpeed), "lblTempo", {45, 825, 540, 210});
    lblTempo->setAlignment(Qt::AlignCenter);
    button(fraSpeed, cmdTempoReset, "cmdTempoReset", QString(), QStringLiteral("Reset"), Picture::Reset,
           {1065, 750, 330, 360}, 31, &frmMain::cmdTempoReset_Click);

    // The picture boxes only lend their rectangles to the player's meters.
    PictureVuMeterLeft = placeControl(new QWidget(this), "PictureVuMeterLeft", {540, 4080, 3345, 150});
    PictureVuMeterRight = placeControl(new QWidget(this), "PictureVuMeterRight", {3960, 4080, 3345, 150});

    button(this, cmdCutAndSave, "cmdCutAndSave", QStringLiteral("Save selection"),
           QStringLiteral("Start conversion now"), Picture::Save, {7470, 4020, 1380, 795}, 4,
           &frmMain::cmdCutAndSave_Click, true);
    prgStatus = placeControl(new XP_ProgressBar(this), "prgStatus", {540, 4425, 6750, 150});
    label(this, lblStatus, "lblStatus", QString(), {540, 4650, 3750, 210});
    button(this, cmdHelp, "cmdHelp", QString(), QStringLiteral("Help"), Picture::Help, {6615, 75, 330, 330}, 12,
           &frmMain::cmdHelp_Click);
    button(this, cmdVantrel, "cmdVantrel", QString(), QStringLiteral("Visit Vantrel web site"), Picture::Logo,
           {7005, 15, 2010, 450}, 11, &frmMain::cmdVantrel_Click);
    cmdVantrel->setHotTracking(false);

    // Sliders have no place in the tab table; they come last.
    tabStops.emplace_back(100, sldPosition);
    tabStops.emplace_back(101, sldTempo);
    std::stable_sort(tabStops.begin(), tabStops.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 1; i < tabStops.size(); ++i) setTabOrder(tabStops[i - 1].second, tabStops[i].second);
    // The window opens on "Browse input", the user's first step, rather than on the path box
    // first in the tab order, so that the window's keys work before anything is clicked.
    cmdInput->setFocus();

    tmrPosition_.setInterval(kPositionIntervalMs);
    connect(&tmrPosition_, &QTimer::timeout, this, &frmMain::tmrPosition_Timer);
    connect(&player_, &SoundPlayer::LevelsChanged, this, &frmMain::Player_LevelsChanged);
    connect(&player_, &SoundPlayer::PlayingSilentlyChanged, this, &frmMain::Player_PlayingSilentlyChanged);
    connect(&waveform_, &waveform::WaveformLoader::changed, this, &frmMain::Waveform_Changed);
    addShortcuts();
    connect(&cutter_, &SoundEditor::LoadProgress, this, &frmMain::Cutter_LoadProgress);
    connect(&cutter_, &SoundEditor::LoadCompleted, this, &frmMain::Cutter_LoadCompleted);
    connect(&cutter_, &SoundEditor::CropProgress, this, &frmMain::Cutter_CropProgress);
    connect(&cutter_, &SoundEditor::CropCompleted, this, &frmMain::Cutter_CropCompleted);
    connect(&cutter_, &SoundEditor::ExportProgress, this, &frmMain::Cutter_ExportProgress);
    connect(&cutter_, &SoundEditor::ExportCompleted, this, &frmMain::Cutter_ExportCompleted);

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmMain::Form_Load() {
    setWindowTitle(QStringLiteral("Clipwren Pro"));
    fraSpeed->show();

    outputFolder_ = OutputLocation::storedFolder(services_.settings);

    if (const int32_t code = cutter_.AttachWindow(this); code != err::Ok)
        throw StartUpError("The sound editor could not be attached: " + GetErrorDescription(code).toStdString());
    if (const int32_t code = player_.StartUp(1, this, 0, 0, 0, 0); code != err::Ok)
        throw StartUpError("The player could not be started: " + GetErrorDescription(code).toStdString());
    // The program reads no result from the two options.
    player_.PlayerOptions().OutputDevice(kPlayer, 0);
    player_.PlayerOptions().LevelEvents(kPlayer, 1);

    leftMeterId_ = SetUpVuMeter(PictureVuMeterLeft);
    rightMeterId_ = SetUpVuMeter(PictureVuMeterRight);
    applyShaping(pieceOptions_->shaping());
}

int32_t frmMain::SetUpVuMeter(QWidget* box) {
    LevelMeterSet& meters = player_.LevelMeters();
    const QRect area = box->geometry();
    const int32_t meterId = meters.CreateMeter(this, area.x(), area.y(), area.width(), area.height());
    if (meterId <= 0)
        throw StartUpError("A level meter could not be created: " + GetErrorDescription(meterId).toStdString());
    meters.SetMeterRange(meterId, 0, 32767);
    MeterLook look{};
    meters.GetMeterLook(meterId, &look);
    look.Style = 1;
    look.PeakHold = 0;
    look.LowColor = 0x00F0C108;
    look.HighColor = 0x000E3EE4;
    look.BackColor = 0x00FFFFFF;
    meters.SetMeterLook(meterId, &look);
    return meterId;
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (cutBusy_) {
        // A cut waits in a nested loop: stop its work so the handler can unwind.
        closing_ = true;
        cutJob_.cancel();
    }
    waveform_.clear();
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload() {
    // Every other window of the program, newest first; the window list keeps creation order.
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        QWindow* window = *it;
        if (window == windowHandle() || !window->isVisible()) continue;
        window->close();
    }
}

// ---- Input file -------------------------------------------------------------------

void frmMain::cmdInput_Click() {
    const QString chosen =
        services_.dialogs.openFileName(this, QStringLiteral("Choose input audio file"), kAudioFileFilter);
    if (chosen.isEmpty()) return;
    loadInputFile(chosen);
}

void frmMain::showPath(QLineEdit* box, const QString& path) {
    box->setText(path);
    box->setCursorPosition(0);
}

void frmMain::loadInputFile(const QString& path) {
    showPath(txtInput, path);
    outputPath_ = OutputLocation::defaultOutputPath(outputFolder_, path);
    showPath(txtOutput, outputPath_);
    const int32_t opened = player_.OpenFile(kPlayer, path);
    const int32_t duration = player_.Length(kPlayer);
    if (opened != err::Ok || duration <= 0) {
        // The player holds nothing now: nothing may still describe the previous sound.
        showNoSound();
        showMessage(QStringLiteral("File could not be loaded.") + kLineBreak +
                        GetErrorDescription(opened != err::Ok ? opened : err::InvalidSoundFile) + kLineBreak +
                        (player_.LastErrorDetail().isEmpty() ? FileFailureText(path, files::WhyNotReadable(path))
                                                             : player_.LastErrorDetail()),
                    platform::MessageIcon::Error);
        return;
    }
    sldPosition->setMaximum(duration);
    txtEndMark->setText(FormatTimeText(duration));
    sldPosition->setMinimum(0);
    sldPosition->setValue(0);
    tmrPosition_.start();
    // An empty groove until the first picture arrives.
    waveform_.load(path);
    samples_.setFile(path);
    sldPosition->setWaveform({}, {});
    showMarkFlags();
    // The sound's keys act at once: a focused button would take Space for itself.
    sldPosition->setFocus();
    // Undo steps through the marks of this sound only.
    markHistory_.reset({txtBeginMark->text(), txtEndMark->text()});
}

void frmMain::showNoSound() {
    tmrPosition_.stop();
    waveform_.clear();
    samples_.setFile({});
    sldPosition->clearWaveform();
    sldPosition->setRange(0, kPositionDesignMaximum);
    sldPosition->setValue(0);
    lblTime->setText(kZeroTime);
    txtEndMark->setText(kZeroTime);
}

bool frmMain::openAudioFile(const QString& path) {
    if (!isAudioFile(path)) return false;
    loadInputFile(path);
    return true;
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedAudioFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
    const QString path = droppedAudioFile(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    loadInputFile(path);
}

// ---- Output file and folder -------------------------------------------------------

void frmMain::cmdOutput_Click() {
    const QString initialFolder = OutputLocation::storedFolder(services_.settings);
    // The dialog takes a folder that is not there yet for a file name in its parent, and
    // a bare name typed there would be saved one folder up. The first save would make it anyway.
    QDir().mkpath(initialFolder);
    const QString chosen = services_.dialogs.saveFileName(this, QStringLiteral("Choose output audio file"),
                                                            kSaveFileFilter, initialFolder);
    if (chosen.isEmpty()) return;
    outputPath_ = chosen;
    showPath(txtOutput, outputPath_);
}

void frmMain::cmdOutputFolder_Click() {
    BrowseSettings& settings = folderBrowser_.Settings();
    settings.Caption = QStringLiteral("Select Destination Folder for edited MP3");
    settings.Prompt =
        QStringLiteral("Please select, or create a folder on your hard disk where edited MP3 copy will be saved :");
    settings.InitialFolder = outputFolder_;
    settings.CenterOnScreen = true;
    settings.ShowNewFolderButton = true;
    const QString chosen = folderBrowser_.BrowseForFolder();
    if (!chosen.isEmpty()) outputFolder_ = chosen;
    // Written after every use, a cancel included, so a default folder becomes a stored one.
    OutputLocation::storeFolder(services_.settings, outputFolder_);
}

// ---- Cut and save -----------------------------------------------------------------

void frmMain::showMessage(const QString& text, platform::MessageIcon icon) {
    services_.dialogs.message(this, text, platform::applicationTitle(), icon);
}

std::optional<CutRange> frmMain::readMarks() {
    const auto begin = markTime(txtBeginMark);
    const auto end = markTime(txtEndMark);
    const QString refusal = !begin ? whyNotATime(txtBeginMark)
                            : !end ? whyNotATime(txtEndMark)
                            : *begin > *end ? QStringLiteral("The begin mark lies after the end mark.")
                                            : QString();
    if (!refusal.isEmpty()) {
        showMessage(refusal, platform::MessageIcon::Information);
        return std::nullopt;
    }
    return CutRange{*begin, *end};
}

void frmMain::cmdCutAndSave_Click() {
    using platform::MessageIcon;
    if (player_.FileName(kPlayer).isEmpty()) {
        showMessage(QStringLiteral("Please load file first."), MessageIcon::Information);
        return;
    }
    if (cutBusy_) return;

    cutBusy_ = true;
    // cutBusy ends false on every way out of the handler.
    const auto idleAgain = qScopeGuard([this] { cutBusy_ = false; });
    std::optional<CutJob::Result> result;
    const QMetaObject::Connection reported =
        connect(&cutJob_, &CutJob::finished, this, [&result](const CutJob::Result& r) { result = r; });
    const auto disconnectReport = qScopeGuard([reported] { disconnect(reported); });
    // The window's loop runs on while the editor works: every other control stays usable.
    // A wait also ends when the job has ended early (a failure) or the window closes.
    const auto waitFor = [&](const bool& done) {
        while (!done && !result && !closing_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    };
    // Cleared before the steps start, so that only this cut's completions raise them.
    loadDone_ = cropDone_ = exportDone_ = false;
    saveCancelled_ = false;
    // The encoding follows the output's name now; the marks are read when cropping
    // starts, so marks set while the file loads count, and the output when the export
    // starts. The piece gets the fades and loudness "Play marked" plays.
    cutJob_.start({player_.FileName(kPlayer), outputPath_, [this] { return cutMarks_ = readMarks(); },
                   [this] { return savingTo_ = outputPath_; }, CopyRule::WhereAlike, pieceOptions_->shaping()});
    for (const bool* done : {&loadDone_, &cropDone_, &exportDone_}) waitFor(*done);
    // The job's report decides the message. It follows the last completion, and after a
    // close it still comes, once the editor has cleaned up.
    while (!result) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (closing_) return;
    if (result->succeeded()) {
        const QString& saved = savingTo_;
        const QString exported = QStringLiteral("Audio file successfuly exported.");
        // A file that falls short of the marked piece (damaged input became silence, or
        // the sound ended early) is still saved, and the user is told how.
        QStringList lines{exported};
        for (QString shortfall : cutter_.LastExportReport().shortfalls()) {
            shortfall[0] = shortfall[0].toUpper();
            lines << shortfall;
        }
        const int32_t pieceMs = std::min(cutMarks_->endMs, player_.Length(kPlayer)) - cutMarks_->beginMs;
        if (saved.endsWith(QLatin1String(".m4r"), Qt::CaseInsensitive) && pieceMs > kLongestIphoneRingtoneMs)
            lines << QStringLiteral("The ringtone is longer than 40 seconds: iPhones do not accept it as a ringtone.");
        // The full path, which the message does not give; the label keeps its width.
        const QString said = QStringLiteral("Saved: ") + QDir::toNativeSeparators(saved);
        lblStatus->setText(lblStatus->fontMetrics().elidedText(said, Qt::ElideMiddle, lblStatus->width()));
        lblStatus->setToolTip(said);
        showMessage(lines.join(kLineBreak), lines.size() == 1 ? MessageIcon::None : MessageIcon::Warning);
    } else if (saveCancelled_) {
        lblStatus->setText(QStringLiteral("Save cancelled: no file was written."));
    } else if (!result->message.isEmpty()) {
        showMessage(result->message, MessageIcon::Error);
    }
}

void frmMain::showProgress(const QString& phase, int32_t percent) {
    lblStatus->setText(QStringLiteral("Status : %1 file, please wait...     %2 %").arg(phase).arg(percent));
    prgStatus->setValue(percent);
}

void frmMain::clearProgress() {
    lblStatus->setText(idleStatus());
    lblStatus->setToolTip(QString());
    prgStatus->setValue(0);
}

QString frmMain::idleStatus() const {
    QStringList said;
    if (loopMarked_) said << QStringLiteral("Loop on: Play marked repeats until Stop (L).");
    if (playingSilently_) said << QStringLiteral("No sound device: playing silently.");
    return said.join(QLatin1Char(' '));
}

void frmMain::cancelSave() {
    if (!cutBusy_ || saveCancelled_) return;
    saveCancelled_ = true;
    cutJob_.cancel();
}

void frmMain::Cutter_LoadProgress(qint16 percent) { showProgress(QStringLiteral("Loading"), percent); }
void frmMain::Cutter_CropProgress(qint32, qint16 percent) { showProgress(QStringLiteral("Cropping"), percent); }
void frmMain::Cutter_ExportProgress(qint32 percent) { showProgress(QStringLiteral("Exporting"), percent); }

void frmMain::Cutter_LoadCompleted(qint32) {
    loadDone_ = true;
    clearProgress();
}

void frmMain::Cutter_CropCompleted(qint32, qint32) {
    cropDone_ = true;
    clearProgress();
}

void frmMain::Cutter_ExportCompleted(qint32) {
    exportDone_ = true;
    clearProgress();
}

// ---- Marks ------------------------------------------------------------------------

void frmMain::setMarkFromPlayer(QLineEdit* mark) {
    if (player_.State(kPlayer) == SoundPlayer::Stopped) return;
    mark->setText(FormatTimeText(player_.Position(kPlayer)));
}

void frmMain::setMarkFromPosition(QLineEdit* mark) {
    if (player_.FileName(kPlayer).isEmpty()) return;
    mark->setText(FormatTimeText(player_.Position(kPlayer)));
}

std::optional<int32_t> frmMain::markTime(const QLineEdit* box) { return ParseTimeText(box->text().trimmed()); }

QString frmMain::whyNotATime(const QLineEdit* box) const {
    return box == txtBeginMark ? QStringLiteral("The begin mark is not a valid time (mm:ss:mmm).")
                               : QStringLiteral("The end mark is not a valid time (mm:ss:mmm).");
}

void frmMain::showMarkFlags() {
    const auto flag = [this](const QLineEdit* box) -> std::optional<int> {
        const std::optional<int32_t> ms = markTime(box);
        if (!ms || *ms < sldPosition->minimum() || *ms > sldPosition->maximum()) return std::nullopt;
        return *ms;
    };
    sldPosition->setMarks(flag(txtBeginMark), flag(txtEndMark));
    const std::optional<int32_t> begin = markTime(txtBeginMark), end = markTime(txtEndMark);
    lblLength->setText(begin && end && *begin <= *end ? FormatTimeText(*end - *begin) : QString());
    // A box whose text is no time says so at once, not only when the mark is used.
    for (QLineEdit* box : {txtBeginMark, txtEndMark}) {
        box->setToolTip(markTime(box) ? QString() : whyNotATime(box));
        box->update();
    }
}

// A dragged flag writes its mark's box as if the time had been typed there; the rest
// of the program reads the marks from the boxes.
void frmMain::sldPosition_MarkMoved(TimeFormatSlider::Mark mark, int value) {
    draggingMark_ = true;
    (mark == TimeFormatSlider::Mark::Begin ? txtBeginMark : txtEndMark)->setText(FormatTimeText(value));
}

void frmMain::marksChanged() {
    showMarkFlags();
    if (restoringMarks_ || draggingMark_ || txtBeginMark->hasFocus() || txtEndMark->hasFocus()) return;
    recordMarks();
}

void frmMain::recordMarks() { markHistory_.record({txtBeginMark->text(), txtEndMark->text()}); }

void frmMain::restoreMarks(const std::optional<MarkTexts>& marks) {
    if (!marks) return;
    restoringMarks_ = true;
    txtBeginMark->setText(marks->begin);
    txtEndMark->setText(marks->end);
    restoringMarks_ = false;
}

bool frmMain::stepMark(QLineEdit* mark, const QKeyEvent& key) {
    if (key.key() != Qt::Key_Up && key.key() != Qt::Key_Down) return false;
    // A text that is no time has nothing to step from; the keys do nothing else in the box.
    const std::optional<int32_t> ms = markTime(mark);
    if (!ms) return true;
    const int32_t step = key.modifiers() & Qt::ControlModifier ? 1000 : key.modifiers() & Qt::ShiftModifier ? 100 : 10;
    // Up to the sound's end, or where a mark typed beyond it already stands.
    const int32_t stepped =
        std::clamp(*ms + (key.key() == Qt::Key_Up ? step : -step), 0, std::max(*ms, sldPosition->maximum()));
    const int cursor = mark->cursorPosition();
    mark->setText(FormatTimeText(stepped));
    mark->setCursorPosition(cursor);
    return true;
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    // A text box with the focus claims every key before the window's shortcuts see it,
    // except Esc while a save runs: that stops the save wherever the focus is.
    if (event->type() == QEvent::ShortcutOverride && qobject_cast<QLineEdit*>(watched)) {
        if (cutBusy_ && static_cast<const QKeyEvent*>(event)->key() == Qt::Key_Escape) return false;
        event->accept();
        return true;
    }
    if (event->type() == QEvent::Paint && (watched == txtBeginMark || watched == txtEndMark) &&
        !markTime(static_cast<QLineEdit*>(watched))) {
        // The box draws itself first; the frame of a mark that is no time goes over it.
        auto* box = static_cast<QLineEdit*>(watched);
        static_cast<QObject*>(box)->event(event);
        QPainter p(box);
        p.setPen(QPen(invalidMarkColour(box->palette()), 2));
        p.drawRect(QRectF(box->rect()).adjusted(1, 1, -1, -1));
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease && watched == sldPosition && draggingMark_) {
        draggingMark_ = false;
        recordMarks();
    }
    if (event->type() == QEvent::KeyPress && (watched == txtBeginMark || watched == txtEndMark)) {
        const auto& key = static_cast<const QKeyEvent&>(*event);
        // Enter plays the marked piece, so a mark stepped by ear can be heard at once.
        if (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter) {
            recordMarks();
            cmdPlaySelected_Click();
            return true;
        }
        if (stepMark(static_cast<QLineEdit*>(watched), key)) return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmMain::cmdMarkBegin_Click() { setMarkFromPlayer(txtBeginMark); }
void frmMain::cmdMarkEnd_Click() { setMarkFromPlayer(txtEndMark); }
void frmMain::cmdClearBegin_Click() { txtBeginMark->setText(kZeroTime); }
void frmMain::cmdClearEnd_Click() { txtEndMark->setText(kZeroTime); }

// ---- Playback and position --------------------------------------------------------

void frmMain::cmdPlay_Click() { player_.Play(kPlayer); }

void frmMain::cmdPause_Click() {
    switch (player_.State(kPlayer)) {
    case SoundPlayer::Playing: player_.Pause(kPlayer); break;
    case SoundPlayer::Paused: player_.Play(kPlayer); break;
    default: break;
    }
}

void frmMain::cmdStop_Click() { player_.Stop(kPlayer); }

void frmMain::cmdPlaySelected_Click() {
    player_.Stop(kPlayer);
    if (const std::optional<CutRange> marks = readMarks()) player_.PlayRange(kPlayer, marks->beginMs, marks->endMs);
}

void frmMain::tmrPosition_Timer() {
    // The slider clamps a position outside its range; the display never stops the program.
    sldPosition->setValue(player_.Position(kPlayer));
    lblTime->setText(FormatTimeText(player_.Position(kPlayer)));
}

void frmMain::sldPosition_UserStartsMoving() { tmrPosition_.stop(); }

void frmMain::sldPosition_UserEndsMoving() {
    player_.Seek(kPlayer, sldPosition->value());
    tmrPosition_.start();
}

void frmMain::Waveform_Changed() {
    if (!sldPosition->showsWaveform()) return;
    waveform::ColumnPeaks peaks =
        waveform_.columns(sldPosition->waveformColumns(), sldPosition->minimum(), sldPosition->maximum());
    sldPosition->setWaveform(std::move(peaks.low), std::move(peaks.high));
    showViewPicture(true);
}

void frmMain::sldPosition_ViewChanged() {
    if (!sldPosition->showsWaveform()) return;
    // A new width also needs a new picture of the whole.
    Waveform_Changed();
}

void frmMain::Samples_Ready() { showViewPicture(false); }

void frmMain::showViewPicture(bool mayRead) {
    if (!sldPosition->isZoomed()) {
        sldPosition->setViewPicture({});
        return;
    }
    const TimeFormatSlider::View view = sldPosition->view();
    const int columns = sldPosition->waveformColumns();
    const double msPerColumn = (view.to - view.from) / std::max(columns - 1, 1);
    const std::shared_ptr<const waveform::SampleReader::Stretch> read = samples_.stretch();
    if (msPerColumn < waveform_.msPerPeak()) {
        if (read->covers(view.from, view.to)) {
            sldPosition->setViewPicture({read->firstMs(), read->lastMs(), {}, {}, read->samples});
            return;
        }
        // Half a view more either side, so that a small pan or zoom out stays within what is read.
        const double margin = (view.to - view.from) / 2;
        if (mayRead) samples_.request(view.from - margin, view.to + margin);
    }
    // The envelope at its finest, until the samples come.
    waveform::ColumnPeaks peaks = waveform_.columns(columns, view.from, view.to);
    sldPosition->setViewPicture({view.from, view.to, std::move(peaks.low), std::move(peaks.high), {}});
}

// ---- Keyboard ---------------------------------------------------------------------

void frmMain::addShortcuts() {
    const auto add = [this](const QKeySequence& keys, const std::function<void()>& action) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    // The position moves as with the slider's own keys: by a second, or ten with the page keys.
    const auto move = [this](QAbstractSlider::SliderAction action) {
        return [this, action] { sldPosition->moveByUser(action); };
    };
    add(Qt::Key_Space, [this] { playOrPause(); });
    add(Qt::Key_Left, move(QAbstractSlider::SliderSingleStepSub));
    add(Qt::Key_Right, move(QAbstractSlider::SliderSingleStepAdd));
    add(Qt::Key_PageUp, move(QAbstractSlider::SliderPageStepAdd));
    add(Qt::Key_PageDown, move(QAbstractSlider::SliderPageStepSub));
    // Unlike the buttons, the keys take the position in every state: stopped, it is where
    // the user put it.
    add(Qt::Key_I, [this] { setMarkFromPosition(txtBeginMark); });
    add(Qt::Key_O, [this] { setMarkFromPosition(txtEndMark); });
    add(Qt::Key_P, [this] { cmdPlaySelected_Click(); });
    // Zoom around the play head, and back to the whole sound.
    const auto zoom = [this](double factor) { return [this, factor] { sldPosition->zoomBy(factor, sldPosition->value()); }; };
    add(Qt::Key_Plus, zoom(2));
    add(Qt::Key_Equal, zoom(2));
    add(Qt::Key_Minus, zoom(0.5));
    add(Qt::Key_0, [this] { sldPosition->showWhole(); });
    add(Qt::SHIFT | Qt::Key_Left, [this] { jumpToMark(txtBeginMark); });
    add(Qt::SHIFT | Qt::Key_Right, [this] { jumpToMark(txtEndMark); });
    add(Qt::CTRL | Qt::Key_Z, [this] { restoreMarks(markHistory_.undo()); });
    add(Qt::CTRL | Qt::SHIFT | Qt::Key_Z, [this] { restoreMarks(markHistory_.redo()); });
    add(Qt::CTRL | Qt::Key_Y, [this] { restoreMarks(markHistory_.redo()); });
    add(Qt::Key_Escape, [this] { cancelSave(); });
    add(Qt::Key_L, [this] { toggleLoop(); });
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Menu), QKeySequence(Qt::SHIFT | Qt::Key_F10)})
        add(keys, [this] { showPieceOptions(sldPosition->rect().bottomLeft()); });
    // A text box keeps every key for typing (eventFilter).
    for (QLineEdit* box : findChildren<QLineEdit*>()) box->installEventFilter(this);
}

void frmMain::playOrPause() {
    if (player_.State(kPlayer) == SoundPlayer::Playing)
        player_.Pause(kPlayer);
    else
        player_.Play(kPlayer);
}

void frmMain::jumpToMark(QLineEdit* mark) {
    if (const std::optional<int32_t> ms = markTime(mark)) sldPosition->setValueByUser(*ms);
}

void frmMain::Player_LevelsChanged(qint16, qint16 left, qint16 right) {
    player_.LevelMeters().ShowLevel(leftMeterId_, left);
    player_.LevelMeters().ShowLevel(rightMeterId_, right);
}

// Said once in the status line, not in a message box: playing goes on, only unheard.
// A cut's progress has the line while it runs; the notice comes back after it.
void frmMain::Player_PlayingSilentlyChanged(qint16, bool silently) {
    playingSilently_ = silently;
    if (!cutBusy_) lblStatus->setText(idleStatus());
}

void frmMain::showPieceOptions(const QPoint& atSlider) { pieceOptions_->popup(sldPosition->mapToGlobal(atSlider)); }

void frmMain::applyShaping(const processing::Shaping& shaping) {
    player_.SetRangeShaping(kPlayer, shaping);
    fadeRamps_->setFades(int(shaping.fades.inSeconds * 1000), int(shaping.fades.outSeconds * 1000));
}

void frmMain::toggleLoop() {
    loopMarked_ = !loopMarked_;
    player_.SetRangeLooping(kPlayer, loopMarked_);
    if (!cutBusy_) clearProgress();
}

// ---- Tempo ------------------------------------------------------------------------

void frmMain::sldTempo_ValueChanged(int value) {
    player_.SetTempo(kPlayer, float(value));
    lblTempo->setText(QString::number(value + 100) + QLatin1Char('%'));
}

void frmMain::cmdTempoReset_Click() { sldTempo->setValue(0); }

// ---- Help and web link ------------------------------------------------------------

void frmMain::cmdHelp_Click() {
    const QDir programFolder(QCoreApplication::applicationDirPath());
    for (const QString& folder : {programFolder.path(), programFolder.filePath(QStringLiteral(CLIPWREN_HELP_DIR))}) {
        const QString document = QDir(folder).filePath(kHelpFileName);
        // A missing help file would only make the desktop show an error of its own.
        if (!QFileInfo::exists(document)) continue;
        services_.opener.open(QDir::toNativeSeparators(QDir::cleanPath(document)), QDir::rootPath(),
                              platform::ShowCommand::Maximized);
        return;
    }
}

void frmMain::cmdVantrel_Click() {
    services_.opener.open(kPublisherAddress, QDir::rootPath(), platform::ShowCommand::Normal);
}

}  // namespace clipwren
