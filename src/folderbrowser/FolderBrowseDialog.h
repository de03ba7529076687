#pragma once
// The folder browser the folder dialog module reshapes: a prompt, an optional
// status line and edit box, a tree of the file system, "OK" and "Cancel", and on
// request the module's extras (a path box with its label, a "New Folder" button or a
// check box, a size grip), which the browser builds and keeps itself. It tells its
// owner through a callback when it has been set up and when the selection changes,
// and through signals what happens to the extras.
#include <QDialog>
#include <functional>

class QAbstractButton;
class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QSizeGrip;
class QTreeView;

namespace clipwren {

namespace platform {
class DialogProvider;
}

namespace browse {
// Options.
constexpr unsigned StatusTextFlag = 0x4;
constexpr unsigned EditBoxFlag = 0x10;
constexpr unsigned ValidateFlag = 0x20;
constexpr unsigned IncludeFilesFlag = 0x4000;
// Notifications.
constexpr unsigned Initialized = 1;
constexpr unsigned SelectionChanged = 2;
constexpr unsigned ValidateFailed = 3;
}  // namespace browse

class FolderBrowseDialog : public QDialog {
    Q_OBJECT
public:
    // itemPath is the file-system path of the item concerned (native separators),
    // or the typed text for ValidateFailed; empty when the item has none.
    using Callback = std::function<int(FolderBrowseDialog& dialog, unsigned message, const QString& itemPath)>;

    // Children carry object names: prompt, status, editBox, tree, okButton, cancelButton,
    // and for the extras pathBox, pathLabel, newFolderButton, checkBox, sizeGrip.
    FolderBrowseDialog(platform::DialogProvider& dialogs, QWidget* owner, const QString& prompt, unsigned flags,
                       Callback callback);

    // Sends Initialized, then runs modally through the dialog seam. Returns the chosen
    // path, or empty text when cancelled.
    QString browse();

    // Selects the item of a path, which makes the tree report a selection change.
    void setSelection(const QString& path);
    void setStatusText(const QString& text);
    // The selected item's path, or empty text.
    QString selectedPath() const;

    QPushButton* okButton() const { return okButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QTreeView* tree() const { return tree_; }
    QLineEdit* editBox() const { return editBox_; }
    QLabel* statusLabel() const { return status_; }

    // The extras, each made once, hidden until the caller shows it. Enter in the path
    // box, and a press, a release over and a help request on the extra button, come as
    // signals and go no further.
    QLineEdit* addPathBox();
    QLabel* pathLabel() const { return pathLabel_; }
    QLineEdit* pathBox() const { return pathBox_; }
    QAbstractButton* addNewFolderButton();
    QAbstractButton* addCheckBox();
    QAbstractButton* extraButton() const { return extraButton_; }
    QSizeGrip* addSizeGrip();
    QSizeGrip* sizeGrip() const { return sizeGrip_; }
    // Destroys the extras (later, as one may be in the middle of its own event).
    void removeExtras();

signals:
    void pathBoxEnterPressed();
    void extraButtonPressed();
    void extraButtonReleased();
    void extraButtonHelpRequested();
    // The dialog was shown, moved or resized.
    void geometryChanged();
    void shown();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    QString chosenPath();
    void scrollToSelection();

    platform::DialogProvider& dialogs_;
    unsigned flags_;
    Callback callback_;
    QLabel* status_ = nullptr;
    QLineEdit* editBox_ = nullptr;
    QTreeView* tree_ = nullptr;
    QFileSystemModel* model_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLineEdit* pathBox_ = nullptr;
    QLabel* pathLabel_ = nullptr;
    QAbstractButton* extraButton_ = nullptr;
    QSizeGrip* sizeGrip_ = nullptr;
    // The folder set by setSelection, which the tree keeps in view until another is chosen.
    QString selectionToReveal_;
};

}  // namespace clipwren
