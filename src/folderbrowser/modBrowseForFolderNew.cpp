#include "folderbrowser/modBrowseForFolderNew.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSizeGrip>
#include <QStyle>
#include <QTreeView>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/modPath.h"
#include "folderbrowser/FolderBrowseDialog.h"
#include "platform/Dialogs.h"
#include "widgets/FitFont.h"

namespace clipwren {

namespace {

constexpr int kMinimumTrackingSize = 320;
constexpr int kStandardSize = 320;
constexpr int kLargeSize = 480;
// Root folders that are not file-system folders: control panel, printers, recycle bin,
// network, network shortcuts. Nothing can be created in them.
constexpr int32_t kSpecialRootFolders[] = {3, 4, 10, 18, 19};

const QString kCrLf = QStringLiteral("\r\n");

QRect screenRect() { return QGuiApplication::primaryScreen()->geometry(); }

// A child's top edge measured from the dialog's outer top edge.
int topInDialog(const QWidget& child, const QWidget& dialog) {
    return child.mapToGlobal(QPoint(0, 0)).y() - dialog.frameGeometry().top();
}

void place(QWidget* widget, int x, int y, int width, int height) {
    if (widget) widget->setGeometry(x, y, width, height);
}

void applyMinimumTrackingSize(QWidget& dialog) {
    const QSize frame = dialog.frameGeometry().size() - dialog.size();
    dialog.setMinimumSize(QSize(kMinimumTrackingSize, kMinimumTrackingSize) - frame);
}

// The output folder is often not made yet on first use. Opening on the folder that would
// hold it leaves something selected for OK and a real place for New Folder to create it in.
QString nearestExistingFolder(const QString& folder) {
    QFileInfo info(QDir::fromNativeSeparators(folder));
    if (!info.isAbsolute()) return folder;
    while (!info.isDir() && !info.isRoot()) info.setFile(info.path());
    return info.isDir() ? QDir::toNativeSeparators(info.absoluteFilePath()) : folder;
}

bool samePath(const QString& a, const QString& b) {
    return QDir::cleanPath(QDir::fromNativeSeparators(a)) == QDir::cleanPath(QDir::fromNativeSeparators(b));
}

// Creates one folder level; on failure returns the system's reason.
QString makeFolder(const QString& path) {
    std::error_code error;
    std::filesystem::create_directory(std::filesystem::path(path.toStdU16String()), error);
    return error ? QString::fromLocal8Bit(error.message()) : QString();
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

// What one opening of the dialog works on; it outlives a call, like the settings.
struct modBrowseForFolderNew::State {
    explicit State(platform::DialogProvider& dialogs) : dialogs(dialogs) {}

    platform::DialogProvider& dialogs;
    BrowseSettings settings;

    QRect DialogRect;   // outer rectangle, frame and caption included
    QSize DialogFrame;  // what frame and caption added to the inner size when DialogRect was read
    QPointer<FolderBrowseDialog> dialog;
    int TreeTop = 0;
    int EditTop = 0;
    int EditHeight = 0;
    int StatusTop = 0;
    int StatusHeight = 0;
    QString CurrentPath;
    bool ReopenPending = false;
    // An initial folder not made yet, and the folder opened in its place: OK there, with
    // no other folder chosen meanwhile, means the initial folder (made when first used).
    QString folderToBe;
    QString openedInstead;
    // The dialog's notifications this module listens to, cut when the dialog is let go.
    std::vector<QMetaObject::Connection> hooks;

    void readDialogRect(const QWidget& window) {
        DialogRect = window.frameGeometry();
        DialogFrame = window.frameGeometry().size() - window.size();
    }

    // Places the dialog so that its outer rectangle is rect. A reopened dialog is not yet
    // shown and has no frame of its own, so the frame measured with DialogRect is used.
    void moveDialog(QWidget& window, const QRect& rect) {
        window.move(rect.topLeft());
        window.resize(rect.size() - DialogFrame);
        window.update();
    }

    void showPathInPathBox(const QString& path) {
        QLineEdit* pathBox = dialog ? dialog->pathBox() : nullptr;
        if (!pathBox) return;
        pathBox->setText(FolderNameOf(TrimAtNull(path)));
        pathBox->setCursorPosition(int(pathBox->text().size()));
    }

    void ArrangeControls() {
        if (!dialog) return;
        const int W = DialogRect.width();
        const int H = DialogRect.height();
        place(dialog->pathBox(), 68, H - 107, W - 90, 23);
        place(dialog->pathLabel(), 19, H - 101, 45, 13);
        place(dialog->tree(), 21, TreeTop, W - 44, H - TreeTop - (settings.ShowPathBox ? 120 : 81));
        place(dialog->sizeGrip(), W - 24, H - 44, 16, 16);
        QWidget* ok = dialog->okButton();
        QWidget* cancel = dialog->cancelButton();
        if (settings.ShowNewFolderButton) {
            place(dialog->extraButton(), W - 96, H - 71, 75, 23);
            place(cancel, W - 177, H - 71, 75, 23);
            place(ok, W - 258, H - 71, 75, 23);
        } else if (settings.ShowCheckBox) {
            place(cancel, W - 96, H - 71, 75, 23);
            place(ok, W - 177, H - 71, 75, 23);
            place(dialog->extraButton(), 20, H - 71, 110, 23);
        } else {
            place(cancel, W - 96, H - 71, 75, 23);
            place(ok, W - 177, H - 71, 75, 23);
        }
        if (settings.ShowEditBox) place(dialog->editBox(), 21, EditTop, W - 44, EditHeight);
        if (settings.ShowStatusText) place(dialog->statusLabel(), 21, StatusTop, W - 44, StatusHeight);
        dialog->update();
    }

    void RestorePreviousProcedures() {
        for (const QMetaObject::Connection& hook : hooks) QObject::disconnect(hook);
        hooks.clear();
    }

    void ReleaseDialogControls() {
        RestorePreviousProcedures();
        if (dialog) dialog->removeExtras();
    }

    void sizeAndPlace(FolderBrowseDialog& window) {
        if (ReopenPending) {
            moveDialog(window, DialogRect);
            return;
        }
        readDialogRect(window);
        const QRect screen = screenRect();
        if (settings.LargeSize)
            moveDialog(window, QRect(DialogRect.topLeft(), QSize(kLargeSize, kLargeSize)));
        else if (settings.FullScreenSize)
            moveDialog(window, screen);
        else
            moveDialog(window, QRect(DialogRect.topLeft(), QSize(kStandardSize, kStandardSize)));
        readDialogRect(window);
        if (settings.CenterOnScreen) {
            const QSize size = DialogRect.size();
            const QPoint topLeft(screen.x() + (screen.width() - size.width()) / 2,
                                 screen.y() + (screen.height() - size.height()) / 2);
            moveDialog(window, QRect(topLeft, size));
            readDialogRect(window);
        }
    }

    // The browser's own children: relabel the buttons, measure where the shell put the
    // tree, the edit box and the status line.
    void readBrowserChildren(FolderBrowseDialog& window) {
        window.okButton()->setText(settings.OkCaption);
        window.cancelButton()->setText(settings.CancelCaption);
        TreeTop = topInDialog(*window.tree(), window);
        if (settings.ShowEditBox && window.editBox()) {
            EditTop = topInDialog(*window.editBox(), window);
            EditHeight = window.editBox()->height();
        }
        if (window.statusLabel()) {
            StatusTop = topInDialog(*window.statusLabel(), window);
            StatusHeight = window.statusLabel()->height();
        }
    }

    void createExtras(FolderBrowseDialog& window) {
        if (settings.ShowPathBox) {
            window.addPathBox();
            window.pathBox()->show();
            window.pathLabel()->show();
            hooks.push_back(QObject::connect(&window, &FolderBrowseDialog::pathBoxEnterPressed,
                                             [this] { PathBoxSubclassProc(); }));
        }
        QAbstractButton* extra = nullptr;
        if (settings.ShowNewFolderButton) {
            extra = window.addNewFolderButton();
            extra->setGeometry(0, 0, 75, 23);
            extra->setText(settings.NewFolderCaption);
            extra->setFont(window.okButton()->font());
        } else if (settings.ShowCheckBox) {
            extra = window.addCheckBox();
            extra->setGeometry(20, 0, 110, 23);
            extra->setText(settings.CheckBoxCaption);
            // The fixed 110 pixels hold the indicator too; a face wider than the layout's is fitted.
            const QStyle* style = extra->style();
            const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, extra) +
                                  style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, extra);
            extra->setFont(FitFontToWidth(window.okButton()->font(), extra->text(), extra->width() - indicator));
        }
        if (extra) {
            // Like the created windows it stands for, it is not a tab stop: only the mouse works it.
            extra->setFocusPolicy(Qt::NoFocus);
            extra->show();
            hooks.push_back(QObject::connect(&window, &FolderBrowseDialog::extraButtonPressed,
                                             [this] { ExtraButtonPressed(); }));
            hooks.push_back(QObject::connect(&window, &FolderBrowseDialog::extraButtonReleased,
                                             [this] { ExtraButtonReleased(); }));
            hooks.push_back(QObject::connect(&window, &FolderBrowseDialog::extraButtonHelpRequested,
                                             [this] { ExtraButtonHelp(); }));
        }
    }

    void createSizeGrip(FolderBrowseDialog& window) {
        QSizeGrip* grip = window.addSizeGrip();
        grip->setGeometry(DialogRect.width() - 24, DialogRect.height() - 44, 16, 16);
        grip->show();
        hooks.push_back(QObject::connect(&window, &FolderBrowseDialog::geometryChanged, [this] { DialogSubclassProc(); }));
        hooks.push_back(QObject::connect(&window, &FolderBrowseDialog::shown, [this] {
            if (dialog) applyMinimumTrackingSize(*dialog);
        }));
        applyMinimumTrackingSize(window);
    }

    void onInitialized(FolderBrowseDialog& window) {
        if (settings.InitialFolder.isEmpty()) settings.InitialFolder = QDir::toNativeSeparators(QDir::rootPath());
        if (settings.OkCaption.isEmpty()) settings.OkCaption = QStringLiteral("OK");
        if (settings.CancelCaption.isEmpty()) settings.CancelCaption = QStringLiteral("Cancel");
        if (settings.NewFolderCaption.isEmpty()) settings.NewFolderCaption = QStringLiteral("New Folder");
        if (settings.CheckBoxCaption.isEmpty()) settings.CheckBoxCaption = QStringLiteral("Include subfolders");

        const QString opened = nearestExistingFolder(settings.InitialFolder);
        window.setSelection(opened);
        CurrentPath = opened;
        const bool missing = !QFileInfo(QDir::fromNativeSeparators(settings.InitialFolder)).isDir();
        folderToBe = missing && opened != settings.InitialFolder ? settings.InitialFolder : QString();
        openedInstead = folderToBe.isEmpty() ? QString() : opened;
        sizeAndPlace(window);
        ReopenPending = false;
        readBrowserChildren(window);

        const bool specialRoot = std::find(std::begin(kSpecialRootFolders), std::end(kSpecialRootFolders),
                                           settings.RootFolder) != std::end(kSpecialRootFolders);
        if (specialRoot) {
            settings.ShowNewFolderButton = false;
            settings.ShowCheckBox = false;
            settings.ShowPathBox = false;
        } else {
            createExtras(window);
        }
        if (settings.ShowSizeGrip) createSizeGrip(window);
        showPathInPathBox(CurrentPath);
        ArrangeControls();
    }

    void onSelectionChanged(FolderBrowseDialog& window, const QString& itemPath) {
        if (itemPath.isEmpty()) return;  // an item without a file-system path changes nothing
        if (!samePath(itemPath, openedInstead)) folderToBe.clear();
        window.setStatusText(itemPath);
        showPathInPathBox(itemPath);
        CurrentPath = itemPath;
    }

    int BrowseCallbackProc(FolderBrowseDialog& window, unsigned message, const QString& itemPath) {
        dialog = &window;
        if (settings.Caption.isEmpty()) settings.Caption = QStringLiteral("Browse for Folder");
        window.setWindowTitle(settings.Caption);
        if (message == browse::Initialized)
            onInitialized(window);
        else if (message == browse::SelectionChanged)
            onSelectionChanged(window, itemPath);
        return 0;
    }

    void CreateNewFolder() {
        QWidget* parent = dialog;
        QString base = TrimAtNull(CurrentPath);
        QString full;
        for (;;) {
            base = WithoutTrailingSeparator(base);
            const QString prompt =
                QStringLiteral("Enter a name for your new folder") + kCrLf + JoinPath(base, QStringLiteral("..."));
            const QString answer = dialogs.inputBox(parent, prompt, settings.Caption);
            if (answer.trimmed().isEmpty()) return;
            full = JoinPath(base, answer);
            if (!PathExists(full)) break;
            dialogs.message(parent,
                            QStringLiteral("A Folder of that name already exists.") + kCrLf +
                                QStringLiteral("Enter a different name and try again."),
                            settings.Caption, platform::MessageIcon::Error);
        }

        // A refused name or a missing permission is reported, and the dialog stays as it was.
        const QString failure = makeFolder(full);
        if (!failure.isEmpty()) {
            dialogs.message(parent, QStringLiteral("The folder could not be created:") + kCrLf + full + kCrLf + failure,
                            settings.Caption, platform::MessageIcon::Error);
            return;
        }

        settings.InitialFolder = full;
        ReopenPending = true;
        // The dialog comes back where the user left it, even if it was moved without the size
        // grip. Only the place is taken: the size stays as it was measured, before the window
        // manager framed the window, so that the reopened dialog is laid out exactly like the
        // first one.
        if (dialog) DialogRect.moveTopLeft(dialog->frameGeometry().topLeft());
        RestorePreviousProcedures();
        if (dialog) dialog->cancelButton()->click();
        ReleaseDialogControls();
    }

    // Runs, with the size grip, when the dialog has been moved or resized.
    void DialogSubclassProc() {
        if (!dialog) return;
        readDialogRect(*dialog);
        ArrangeControls();
        applyMinimumTrackingSize(*dialog);
    }

    // The parts of the extra button's procedure: a press toggles the check box, a release
    // over the New Folder button asks for a new folder, help explains that button.
    void ExtraButtonPressed() {
        if (!settings.ShowCheckBox || !dialog || !dialog->extraButton()) return;
        QAbstractButton* box = dialog->extraButton();
        settings.CheckBoxValue = box->isChecked();
        settings.CheckBoxValue = !settings.CheckBoxValue;
        box->setChecked(settings.CheckBoxValue);
        dialog->setFocus();
    }

    void ExtraButtonReleased() {
        if (settings.ShowNewFolderButton) CreateNewFolder();
    }

    void ExtraButtonHelp() {
        dialogs.message(dialog, QStringLiteral("Creates a new folder in the currently selected directory"),
                        QStringLiteral("Olvaris Enterprises"), platform::MessageIcon::Information);
    }

    void selectTypedFolder(const QString& path) {
        CurrentPath = path;
        if (dialog) dialog->setSelection(path);
    }

    // Enter in the path box.
    void PathBoxSubclassProc() {
        const QString current = WithoutTrailingSeparator(TrimAtNull(CurrentPath));
        const QString typed = WithoutTrailingSeparator(GetWindowTextAll(dialog ? dialog->pathBox() : nullptr));
        const QString sibling = JoinPath(ParentFolderOf(current), typed);
        // With no name the sibling rule would name the parent folder itself and move there.
        if (!typed.isEmpty() && PathExists(sibling)) {
            selectTypedFolder(sibling);
        } else if (PathExists(typed)) {
            selectTypedFolder(typed);
        } else {
            dialogs.message(dialog,
                            typed + kCrLf + QStringLiteral("The specified path does not exist.") + kCrLf + kCrLf +
                                QStringLiteral("Check the path, and try again."),
                            QStringLiteral("Browse for Folder"), platform::MessageIcon::Error);
        }
    }
};

modBrowseForFolderNew::modBrowseForFolderNew(platform::DialogProvider& dialogs)
    : state_(std::make_unique<State>(dialogs)) {}

modBrowseForFolderNew::~modBrowseForFolderNew() = default;

BrowseSettings& modBrowseForFolderNew::Settings() { return state_->settings; }

QString modBrowseForFolderNew::BrowseForFolder() {
    State& state = *state_;
    BrowseSettings& settings = state.settings;
    settings.CheckBoxValue = false;
    for (;;) {
        if (!isExistingWindow(settings.OwnerWindow)) settings.OwnerWindow = nullptr;
        if (settings.Prompt.isEmpty()) settings.Prompt = QStringLiteral("Select a folder");
        unsigned flags = browse::ValidateFlag;
        if (settings.ShowEditBox) flags |= browse::EditBoxFlag;
        if (settings.ShowStatusText) flags |= browse::StatusTextFlag;
        if (settings.IncludeFiles) flags |= browse::IncludeFilesFlag;

        FolderBrowseDialog dialog(state.dialogs, settings.OwnerWindow, settings.Prompt, flags,
                                  [&state](FolderBrowseDialog& window, unsigned message, const QString& itemPath) {
                                      return state.BrowseCallbackProc(window, message, itemPath);
                                  });
        const QString chosen = TrimAtNull(dialog.browse());
        // A dialog closed by the new-folder flow opens again on the new folder.
        if (state.ReopenPending) continue;
        state.ReleaseDialogControls();
        if (!state.folderToBe.isEmpty() && samePath(chosen, state.openedInstead)) return state.folderToBe;
        return chosen;
    }
}

}  // namespace clipwren
