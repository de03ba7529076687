#include "folderbrowser/modBrowseForFolderNew.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSizeGrip>
#include <QStyle>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "folderbrowser/FolderBrowseDialog.h"
#include "core/modPath.h"
#include "widgets/FitFont.h"
#include "platform/Dialogs.h"

namespace clipwren {

namespace {

constexpr int kMinimumTrackingSize = 320;
constexpr int kStandardSize = 320;
constexpr int kLargeSize = 480;
// Root folders that are not file-system folders: control panel, printers, recycle bin,
// network, network shortcuts. Nothing can be created in them.
constexpr int32_t kSpecialRootFolders[] = {3, 4, 10, 18, 19};

const QString kCrLf = QStringLiteral("\r\n");

// What one opening of the dialog works on; it outlives a call, like the settings.
struct BrowseState {
    QRect DialogRect;  // outer rectangle, frame and caption included
    QSize DialogFrame;  // what frame and caption added to the inner size when DialogRect was read
    QPointer<FolderBrowseDialog> dialog;
    QPointer<QWidget> tree;
    QPointer<QWidget> okButton;
    QPointer<QWidget> cancelButton;
    QPointer<QWidget> editBox;
    QPointer<QWidget> statusLabel;
    QPointer<QAbstractButton> extraButton;
    QPointer<QLineEdit> pathBox;
    QPointer<QLabel> pathLabel;
    QPointer<QSizeGrip> sizeBox;
    int TreeTop = 0;
    int EditTop = 0;
    int EditHeight = 0;
    int StatusTop = 0;
    int StatusHeight = 0;
    QString CurrentPath;
    bool ReopenPending = false;
};

BrowseState state;

// Event filters stand where window procedures were subclassed: each hook runs one
// procedure, which returns true when it has handled the event and it goes no further.
class EventHook : public QObject {
public:
    explicit EventHook(bool (*procedure)(QObject*, QEvent*)) : procedure_(procedure) {}
    bool eventFilter(QObject* watched, QEvent* event) override { return procedure_(watched, event); }

private:
    bool (*procedure_)(QObject*, QEvent*);
};

bool DialogSubclassProc(QObject* window, QEvent* event);
bool ExtraButtonSubclassProc(QObject* window, QEvent* event);
bool PathBoxSubclassProc(QObject* window, QEvent* event);

EventHook& dialogHook() {
    static EventHook hook(DialogSubclassProc);
    return hook;
}
EventHook& extraButtonHook() {
    static EventHook hook(ExtraButtonSubclassProc);
    return hook;
}
EventHook& pathBoxHook() {
    static EventHook hook(PathBoxSubclassProc);
    return hook;
}

void readDialogRect(const QWidget& dialog) {
    state.DialogRect = dialog.frameGeometry();
    state.DialogFrame = dialog.frameGeometry().size() - dialog.size();
}

// Places the dialog so that its outer rectangle is rect. A reopened dialog is not yet
// shown and has no frame of its own, so the frame measured with DialogRect is used.
void moveDialog(QWidget& dialog, const QRect& rect) {
    dialog.move(rect.topLeft());
    dialog.resize(rect.size() - state.DialogFrame);
    dialog.update();
}

QRect screenRect() { return QGuiApplication::primaryScreen()->geometry(); }

// A child's top edge measured from the dialog's outer top edge.
int topInDialog(const QWidget& child, const QWidget& dialog) {
    return child.mapToGlobal(QPoint(0, 0)).y() - dialog.frameGeometry().top();
}

void place(QWidget* widget, int x, int y, int width, int height) {
    if (widget) widget->setGeometry(x, y, width, height);
}

void showPathInPathBox(const QString& path) {
    if (!state.pathBox) return;
    state.pathBox->setText(FolderNameOf(TrimAtNull(path)));
    state.pathBox->setCursorPosition(int(state.pathBox->text().size()));
}

void applyMinimumTrackingSize(QWidget& dialog) {
    const QSize frame = dialog.frameGeometry().size() - dialog.size();
    dialog.setMinimumSize(QSize(kMinimumTrackingSize, kMinimumTrackingSize) - frame);
}

void ArrangeControls() {
    const BrowseSettings& settings = browseSettings();
    const int W = state.DialogRect.width();
    const int H = state.DialogRect.height();
    place(state.pathBox, 68, H - 107, W - 90, 23);
    place(state.pathLabel, 19, H - 101, 45, 13);
    place(state.tree, 21, state.TreeTop, W - 44, H - state.TreeTop - (settings.ShowPathBox ? 120 : 81));
    place(state.sizeBox, W - 24, H - 44, 16, 16);
    if (settings.ShowNewFolderButton) {
        place(state.extraButton, W - 96, H - 71, 75, 23);
        place(state.cancelButton, W - 177, H - 71, 75, 23);
        place(state.okButton, W - 258, H - 71, 75, 23);
    } else if (settings.ShowCheckBox) {
        place(state.cancelButton, W - 96, H - 71, 75, 23);
        place(state.okButton, W - 177, H - 71, 75, 23);
        place(state.extraButton, 20, H - 71, 110, 23);
    } else {
        place(state.cancelButton, W - 96, H - 71, 75, 23);
        place(state.okButton, W - 177, H - 71, 75, 23);
    }
    if (settings.ShowEditBox) place(state.editBox, 21, state.EditTop, W - 44, state.EditHeight);
    if (settings.ShowStatusText) place(state.statusLabel, 21, state.StatusTop, W - 44, state.StatusHeight);
    if (state.dialog) state.dialog->update();
}

void RestorePreviousProcedures() {
    if (state.extraButton) state.extraButton->removeEventFilter(&extraButtonHook());
    if (state.dialog) state.dialog->removeEventFilter(&dialogHook());
    if (state.pathBox) state.pathBox->removeEventFilter(&pathBoxHook());
}

// Later deletion: the New Folder button destroys itself from inside its own event.
template <typename Widget>
void destroyCreated(QPointer<Widget>& widget) {
    if (widget) {
        widget->hide();
        widget->deleteLater();
    }
    widget = nullptr;
}

void DestroyCreatedControls() {
    destroyCreated(state.pathLabel);
    destroyCreated(state.pathBox);
    destroyCreated(state.extraButton);
    destroyCreated(state.sizeBox);
}

void ReleaseDialogControls() {
    RestorePreviousProcedures();
    DestroyCreatedControls();
}

template <typename Widget>
Widget* createControl(FolderBrowseDialog& dialog, const char* windowClass, const char* name, const QRect& geometry) {
    auto* widget = new Widget(&dialog);
    widget->setProperty(kWindowClassProperty, QString::fromLatin1(windowClass));
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    if (state.okButton) widget->setFont(state.okButton->font());
    return widget;
}

void scanChildren(FolderBrowseDialog& dialog) {
    const BrowseSettings& settings = browseSettings();
    for (QObject* object : dialog.children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (!child) continue;
        const QString windowClass = child->property(kWindowClassProperty).toString();
        const QString text = GetWindowTextAll(child);
        if (windowClass.startsWith(QLatin1String("Button"))) {
            const QString upper = text.left(99).toUpper();
            auto* button = qobject_cast<QAbstractButton*>(child);
            if (upper.startsWith(QLatin1String("OK"))) {
                state.okButton = child;
                if (button) button->setText(settings.OkCaption);
            } else if (upper.startsWith(QLatin1String("CANCEL"))) {
                state.cancelButton = child;
                if (button) button->setText(settings.CancelCaption);
            }
        } else if (windowClass.startsWith(QLatin1String("SysTreeView32"))) {
            state.tree = child;
            state.TreeTop = topInDialog(*child, dialog);
        } else if (settings.ShowEditBox && windowClass.startsWith(QLatin1String("Edit"))) {
            state.editBox = child;
            state.EditTop = topInDialog(*child, dialog);
            state.EditHeight = child->height();
        } else if (windowClass.startsWith(QLatin1String("Static")) &&
                   !text.toUpper().startsWith(settings.Prompt.toUpper())) {
            state.statusLabel = child;
            state.StatusTop = topInDialog(*child, dialog);
            state.StatusHeight = child->height();
        }
    }
}

void createExtras(FolderBrowseDialog& dialog) {
    const BrowseSettings& settings = browseSettings();
    if (settings.ShowPathBox) {
        state.pathBox = createControl<QLineEdit>(dialog, "Edit", "pathBox", QRect(0, 0, 0, 23));
        state.pathLabel = createControl<QLabel>(dialog, "Static", "pathLabel", QRect(0, 0, 0, 23));
        state.pathLabel->setText(QStringLiteral("Folder :"));
        state.pathBox->show();
        state.pathLabel->show();
        state.pathBox->installEventFilter(&pathBoxHook());
    }
    if (settings.ShowNewFolderButton) {
        state.extraButton = createControl<QPushButton>(dialog, "Button", "newFolderButton", QRect(0, 0, 75, 23));
        state.extraButton->setText(settings.NewFolderCaption);
    } else if (settings.ShowCheckBox) {
        auto* box = createControl<QCheckBox>(dialog, "Button", "checkBox", QRect(20, 0, 110, 23));
        box->setText(settings.CheckBoxCaption);
        // The fixed 110 pixels hold the indicator too; a face wider than the layout's is fitted.
        const QStyle* style = box->style();
        const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                              style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
        box->setFont(FitFontToWidth(box->font(), box->text(), box->width() - indicator));
        state.extraButton = box;
    }
    if (state.extraButton) {
        // Like the created windows it stands for, it is not a tab stop: only the mouse works it.
        state.extraButton->setFocusPolicy(Qt::NoFocus);
        state.extraButton->show();
        state.extraButton->installEventFilter(&extraButtonHook());
    }
}

void createSizeGrip(FolderBrowseDialog& dialog) {
    const int W = state.DialogRect.width();
    const int H = state.DialogRect.height();
    state.sizeBox = createControl<QSizeGrip>(dialog, "ScrollBar", "sizeGrip", QRect(W - 24, H - 44, 16, 16));
    state.sizeBox->show();
    dialog.installEventFilter(&dialogHook());
    applyMinimumTrackingSize(dialog);
}

void sizeAndPlace(FolderBrowseDialog& dialog) {
    const BrowseSettings& settings = browseSettings();
    if (state.ReopenPending) {
        moveDialog(dialog, state.DialogRect);
        return;
    }
    readDialogRect(dialog);
    const QRect screen = screenRect();
    if (settings.LargeSize)
        moveDialog(dialog, QRect(state.DialogRect.topLeft(), QSize(kLargeSize, kLargeSize)));
    else if (settings.FullScreenSize)
        moveDialog(dialog, screen);
    else
        moveDialog(dialog, QRect(state.DialogRect.topLeft(), QSize(kStandardSize, kStandardSize)));
    readDialogRect(dialog);
    if (settings.CenterOnScreen) {
        const QSize size = state.DialogRect.size();
        const QPoint topLeft(screen.x() + (screen.width() - size.width()) / 2,
                             screen.y() + (screen.height() - size.height()) / 2);
        moveDialog(dialog, QRect(topLeft, size));
        readDialogRect(dialog);
    }
}

// The output folder is often not made yet on first use. Opening on the folder that would
// hold it leaves something selected for OK and a real place for New Folder to create it in.
QString nearestExistingFolder(const QString& folder) {
    QFileInfo info(QDir::fromNativeSeparators(folder));
    if (!info.isAbsolute()) return folder;
    while (!info.isDir() && !info.isRoot()) info.setFile(info.path());
    return info.isDir() ? QDir::toNativeSeparators(info.absoluteFilePath()) : folder;
}

void onInitialized(FolderBrowseDialog& dialog) {
    BrowseSettings& settings = browseSettings();
    if (settings.InitialFolder.isEmpty()) settings.InitialFolder = QDir::toNativeSeparators(QDir::rootPath());
    if (settings.OkCaption.isEmpty()) settings.OkCaption = QStringLiteral("OK");
    if (settings.CancelCaption.isEmpty()) settings.CancelCaption = QStringLiteral("Cancel");
    if (settings.NewFolderCaption.isEmpty()) settings.NewFolderCaption = QStringLiteral("New Folder");
    if (settings.CheckBoxCaption.isEmpty()) settings.CheckBoxCaption = QStringLiteral("Include subfolders");

    const QString opened = nearestExistingFolder(settings.InitialFolder);
    dialog.setSelection(opened);
    state.CurrentPath = opened;
    sizeAndPlace(dialog);
    state.ReopenPending = false;
    scanChildren(dialog);

    const bool specialRoot = std::find(std::begin(kSpecialRootFolders), std::end(kSpecialRootFolders),
                                       settings.RootFolder) != std::end(kSpecialRootFolders);
    if (specialRoot) {
        settings.ShowNewFolderButton = false;
        settings.ShowCheckBox = false;
        settings.ShowPathBox = false;
    } else {
        createExtras(dialog);
    }
    if (settings.ShowSizeGrip) createSizeGrip(dialog);
    showPathInPathBox(state.CurrentPath);
    ArrangeControls();
}

void onSelectionChanged(FolderBrowseDialog& dialog, const QString& itemPath) {
    if (itemPath.isEmpty()) return;  // an item without a file-system path changes nothing
    dialog.setStatusText(itemPath);
    showPathInPathBox(itemPath);
    state.CurrentPath = itemPath;
}

int BrowseCallbackProc(FolderBrowseDialog& dialog, unsigned message, const QString& itemPath) {
    BrowseSettings& settings = browseSettings();
    state.dialog = &dialog;
    if (settings.Caption.isEmpty()) settings.Caption = QStringLiteral("Browse for Folder");
    dialog.setWindowTitle(settings.Caption);
    if (message == browse::Initialized)
        onInitialized(dialog);
    else if (message == browse::SelectionChanged)
        onSelectionChanged(dialog, itemPath);
    return 0;
}

// Creates one folder level; on failure returns the system's reason.
QString makeFolder(const QString& path) {
    std::error_code error;
    std::filesystem::create_directory(std::filesystem::path(path.toStdU16String()), error);
    return error ? QString::fromLocal8Bit(error.message()) : QString();
}

void CreateNewFolder() {
    BrowseSettings& settings = browseSettings();
    QWidget* parent = state.dialog;
    QString base = TrimAtNull(state.CurrentPath);
    QString full;
    for (;;) {
        base = WithoutTrailingSeparator(base);
        const QString prompt = QStringLiteral("Enter a name for your new folder") + kCrLf +
                               JoinPath(base, QStringLiteral("..."));
        const QString answer = platform::dialogs().inputBox(parent, prompt, settings.Caption);
        if (answer.trimmed().isEmpty()) return;
        full = JoinPath(base, answer);
        if (!PathExists(full)) break;
        platform::dialogs().message(parent,
                                    QStringLiteral("A Folder of that name already exists.") + kCrLf +
                                        QStringLiteral("Enter a different name and try again."),
                                    settings.Caption, platform::MessageIcon::Error);
    }

    // A refused name or a missing permission is reported, and the dialog stays as it was.
    const QString failure = makeFolder(full);
    if (!failure.isEmpty()) {
        platform::dialogs().message(parent,
                                    QStringLiteral("The folder could not be created:") + kCrLf + full + kCrLf +
                                        failure,
                                    settings.Caption, platform::MessageIcon::Error);
        return;
    }

    settings.InitialFolder = full;
    state.ReopenPending = true;
    // The dialog comes back where the user left it, even if it was moved without the size grip.
    // Only the place is taken: the size stays as it was measured, before the window manager
    // framed the window, so that the reopened dialog is laid out exactly like the first one.
    if (state.dialog) state.DialogRect.moveTopLeft(state.dialog->frameGeometry().topLeft());
    RestorePreviousProcedures();
    if (auto* cancel = qobject_cast<QAbstractButton*>(state.cancelButton.data()))
        cancel->click();
    else if (state.dialog)
        state.dialog->reject();
    DestroyCreatedControls();
}

bool DialogSubclassProc(QObject* window, QEvent* event) {
    auto* dialog = qobject_cast<QWidget*>(window);
    switch (event->type()) {
        case QEvent::Resize:
        case QEvent::Move:
            readDialogRect(*dialog);
            ArrangeControls();
            applyMinimumTrackingSize(*dialog);
            break;
        case QEvent::Show:
            applyMinimumTrackingSize(*dialog);
            break;
        default:
            break;
    }
    return false;
}

bool isLeftButton(QEvent* event) { return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton; }

// Qt hands the release to the widget the press went to, wherever the mouse is by then; a
// button whose press never took the mouse hears only a release over itself, so a user who
// drags off the button has changed their mind.
bool releasedOver(QObject* window, QEvent* event) {
    const auto* widget = qobject_cast<QWidget*>(window);
    return widget && widget->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint());
}

bool ExtraButtonSubclassProc(QObject* window, QEvent* event) {
    BrowseSettings& settings = browseSettings();
    switch (event->type()) {
        case QEvent::QueryWhatsThis:
            event->accept();
            return true;
        case QEvent::WhatsThis:
            platform::dialogs().message(state.dialog,
                                        QStringLiteral("Creates a new folder in the currently selected directory"),
                                        QStringLiteral("Olvaris Enterprises"), platform::MessageIcon::Information);
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (!isLeftButton(event)) return false;
            if (settings.ShowCheckBox && state.extraButton) {
                settings.CheckBoxValue = state.extraButton->isChecked();
                settings.CheckBoxValue = !settings.CheckBoxValue;
                state.extraButton->setChecked(settings.CheckBoxValue);
                if (state.dialog) state.dialog->setFocus();
            }
            // The button-down never reaches the button, so it never shows a pressed state.
            return true;
        case QEvent::MouseButtonRelease:
            if (!isLeftButton(event) || !settings.ShowNewFolderButton || !releasedOver(window, event)) return false;
            CreateNewFolder();
            // After a created folder the button is on its way out: the event ends here.
            return state.ReopenPending;
        default:
            return false;
    }
}

bool isEnterKey(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

void selectTypedFolder(const QString& path) {
    state.CurrentPath = path;
    if (state.dialog) state.dialog->setSelection(path);
}

bool PathBoxSubclassProc(QObject*, QEvent* event) {
    if (!isEnterKey(event)) return false;
    const QString current = WithoutTrailingSeparator(TrimAtNull(state.CurrentPath));
    const QString typed = WithoutTrailingSeparator(GetWindowTextAll(state.pathBox));
    const QString sibling = JoinPath(ParentFolderOf(current), typed);
    // With no name the sibling rule would name the parent folder itself and move there.
    if (!typed.isEmpty() && PathExists(sibling)) {
        selectTypedFolder(sibling);
    } else if (PathExists(typed)) {
        selectTypedFolder(typed);
    } else {
        platform::dialogs().message(state.dialog,
                                    typed + kCrLf + QStringLiteral("The specified path does not exist.") + kCrLf +
                                        kCrLf + QStringLiteral("Check the path, and try again."),
                                    QStringLiteral("Browse for Folder"), platform::MessageIcon::Error);
    }
    return true;
}

// An owner pointer is only trusted while it still names a live widget.
bool isExistingWindow(const QWidget* window) {
    if (!window) return false;
    const QWidgetList widgets = QApplication::allWidgets();
    return std::find(widgets.begin(), widgets.end(), window) != widgets.end();
}

}  // namespace

QString GetWindowTextAll(const QWidget* window) {
    if (!window) return {};
    if (const auto* edit = qobject_cast<const QLineEdit*>(window)) return edit->text();
    if (const auto* label = qobject_cast<const QLabel*>(window)) return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(window)) return button->text();
    return window->windowTitle();
}

BrowseSettings& browseSettings() {
    static BrowseSettings settings;
    return settings;
}

QString BrowseForFolder() {
    BrowseSettings& settings = browseSettings();
    settings.CheckBoxValue = false;
    for (;;) {
        if (!isExistingWindow(settings.OwnerWindow)) settings.OwnerWindow = nullptr;
        if (settings.Prompt.isEmpty()) settings.Prompt = QStringLiteral("Select a folder");
        unsigned flags = browse::ValidateFlag;
        if (settings.ShowEditBox) flags |= browse::EditBoxFlag;
        if (settings.ShowStatusText) flags |= browse::StatusTextFlag;
        if (settings.IncludeFiles) flags |= browse::IncludeFilesFlag;

        FolderBrowseDialog dialog(settings.OwnerWindow, settings.Prompt, flags, BrowseCallbackProc);
        const QString chosen = TrimAtNull(dialog.browse());
        // A dialog closed by the new-folder flow opens again on the new folder.
        if (state.ReopenPending) continue;
        ReleaseDialogControls();
        return chosen;
    }
}

}  // namespace clipwren
