#pragma once
// The folder browser the folder dialog module reshapes: a prompt, an optional
// status line and edit box, a tree of the file system, "OK" and "Cancel". It tells
// its owner through a callback when it has been set up and when the selection
// changes, and takes set-selection and set-status-text requests.
#include <QDialog>
#include <functional>

class QFileSystemModel;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace clipwren {

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

// Every child names its kind in this property ("Button", "SysTreeView32", "Edit",
// "Static", "ScrollBar"), so the module can find the children it reshapes.
inline constexpr char kWindowClassProperty[] = "windowClass";

class FolderBrowseDialog : public QDialog {
    Q_OBJECT
public:
    // itemPath is the file-system path of the item concerned (native separators),
    // or the typed text for ValidateFailed; empty when the item has none.
    using Callback = std::function<int(FolderBrowseDialog& dialog, unsigned message, const QString& itemPath)>;

    FolderBrowseDialog(QWidget* owner, const QString& prompt, unsigned flags, Callback callback);

    // Sends Initialized, then runs modally through the dialog seam. Returns the chosen
    // path, or empty text when cancelled.
    QString browse();

    // Selects the item of a path, which makes the tree report a selection change.
    void setSelection(const QString& path);
    void setStatusText(const QString& text);
    // The selected item's path, or empty text.
    QString selectedPath() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString chosenPath();
    void scrollToSelection();

    unsigned flags_;
    Callback callback_;
    QLabel* status_ = nullptr;
    QLineEdit* editBox_ = nullptr;
    QTreeView* tree_ = nullptr;
    QFileSystemModel* model_ = nullptr;
    // The folder set by setSelection, which the tree keeps in view until another is chosen.
    QString selectionToReveal_;
};

}  // namespace clipwren
