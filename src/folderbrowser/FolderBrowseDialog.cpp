#include "folderbrowser/FolderBrowseDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QShortcut>
#include <QSizeGrip>
#include <QTreeView>
#include <QWhatsThis>

#include "core/modPath.h"
#include "platform/Dialogs.h"

namespace clipwren {

namespace {

// No wider than the standard 320 of the folder dialog: the prompt keeps the place and width
// it gets here, and a wider one would run past the dialog's right edge.
constexpr int kDefaultWidth = 320;
constexpr int kDefaultHeight = 380;
constexpr int kMargin = 12;

template <typename Widget>
Widget* makeChild(QWidget* parent, const char* name) {
    auto* child = new Widget(parent);
    child->setObjectName(QString::fromLatin1(name));
    return child;
}

// The path box: Enter is the dialog's business, not the box's (nor the OK button's).
class PathBox : public QLineEdit {
public:
    explicit PathBox(FolderBrowseDialog* dialog) : QLineEdit(dialog), dialog_(dialog) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) return QLineEdit::keyPressEvent(event);
        emit dialog_->pathBoxEnterPressed();
    }

private:
    FolderBrowseDialog* dialog_;
};

// The New Folder button or the check box. The press never reaches the button itself,
// so it never shows a pressed state; the dialog hears of it, of a release over the
// button and of a request for help.
template <typename Button>
class ExtraButton : public Button {
public:
    explicit ExtraButton(FolderBrowseDialog* dialog) : Button(dialog), dialog_(dialog) {}

protected:
    bool event(QEvent* event) override {
        switch (event->type()) {
            case QEvent::QueryWhatsThis:
                event->accept();
                return true;
            case QEvent::WhatsThis:
                emit dialog_->extraButtonHelpRequested();
                return true;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
                if (!isLeftButton(event)) break;
                emit dialog_->extraButtonPressed();
                return true;
            case QEvent::MouseButtonRelease:
                // Qt hands the release to the widget the press went to, wherever the mouse
                // is by then: a user who drags off the button has changed their mind.
                if (!isLeftButton(event)) break;
                if (this->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
                    emit dialog_->extraButtonReleased();
                return true;
            default:
                break;
        }
        return Button::event(event);
    }

private:
    static bool isLeftButton(QEvent* event) { return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton; }
    FolderBrowseDialog* dialog_;
};

}  // namespace

FolderBrowseDialog::FolderBrowseDialog(platform::DialogProvider& dialogs, QWidget* owner, const QString& prompt,
                                       unsigned flags, Callback callback)
    : QDialog(owner), dialogs_(dialogs), flags_(flags), callback_(std::move(callback)) {
    setWindowTitle(QStringLiteral("Browse for Folder"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    // Most window managers here draw no help button in the caption: Shift+F1 starts the same
    // help mode, in which a click on a control asks it for help.
    auto* helpMode = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), this);
    connect(helpMode, &QShortcut::activated, this, [] { QWhatsThis::enterWhatsThisMode(); });
    resize(kDefaultWidth, kDefaultHeight);
    const int innerWidth = kDefaultWidth - 2 * kMargin;

    auto* promptLabel = makeChild<QLabel>(this, "prompt");
    promptLabel->setText(prompt);
    promptLabel->setWordWrap(true);
    promptLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    promptLabel->setGeometry(kMargin, 10, innerWidth, 40);
    int top = 52;
    if (flags_ & browse::StatusTextFlag) {
        status_ = makeChild<QLabel>(this, "status");
        status_->setGeometry(kMargin, top, innerWidth, 16);
        top += 18;
    }
    if (flags_ & browse::EditBoxFlag) {
        editBox_ = makeChild<QLineEdit>(this, "editBox");
        editBox_->setGeometry(kMargin, top, innerWidth, 21);
        top += 25;
    }

    tree_ = makeChild<QTreeView>(this, "tree");
    model_ = new QFileSystemModel(tree_);
    QDir::Filters filter = QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot;
    if (flags_ & browse::IncludeFilesFlag) filter |= QDir::Files;
    model_->setFilter(filter);
    model_->setRootPath(QString());
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
    tree_->setGeometry(kMargin, top, innerWidth, kDefaultHeight - top - 50);
    // Rows above the selection move while the model fills in and sorts on its own
    // thread, so the tree follows the selection until the user picks another one.
    const auto revealAgain = [this] {
        if (selectionToReveal_.isEmpty()) return;
        QMetaObject::invokeMethod(this, [this] { scrollToSelection(); }, Qt::QueuedConnection);
    };
    connect(model_, &QFileSystemModel::directoryLoaded, this, revealAgain);
    connect(model_, &QAbstractItemModel::rowsInserted, this, revealAgain);
    connect(model_, &QAbstractItemModel::layoutChanged, this, revealAgain);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                const QString path = current.isValid() ? QDir::toNativeSeparators(model_->filePath(current)) : QString();
                if (current.isValid() && model_->filePath(current) != selectionToReveal_) selectionToReveal_.clear();
                if (editBox_) editBox_->setText(FolderNameOf(path));
                callback_(*this, browse::SelectionChanged, path);
            });

    okButton_ = makeChild<QPushButton>(this, "okButton");
    okButton_->setText(QStringLiteral("OK"));
    okButton_->setDefault(true);
    okButton_->setGeometry(kDefaultWidth - 174, kDefaultHeight - 36, 75, 23);
    cancelButton_ = makeChild<QPushButton>(this, "cancelButton");
    cancelButton_->setText(QStringLiteral("Cancel"));
    cancelButton_->setGeometry(kDefaultWidth - 87, kDefaultHeight - 36, 75, 23);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
}

QLineEdit* FolderBrowseDialog::addPathBox() {
    if (!pathBox_) {
        pathBox_ = new PathBox(this);
        pathBox_->setObjectName(QStringLiteral("pathBox"));
        pathLabel_ = makeChild<QLabel>(this, "pathLabel");
        pathLabel_->setText(QStringLiteral("Folder :"));
        for (QWidget* control : {static_cast<QWidget*>(pathBox_), static_cast<QWidget*>(pathLabel_)}) {
            control->setFont(okButton_->font());
            control->hide();
        }
    }
    return pathBox_;
}

QAbstractButton* FolderBrowseDialog::addNewFolderButton() {
    if (!extraButton_) {
        extraButton_ = new ExtraButton<QPushButton>(this);
        extraButton_->setObjectName(QStringLiteral("newFolderButton"));
    }
    return extraButton_;
}

QAbstractButton* FolderBrowseDialog::addCheckBox() {
    if (!extraButton_) {
        extraButton_ = new ExtraButton<QCheckBox>(this);
        extraButton_->setObjectName(QStringLiteral("checkBox"));
    }
    return extraButton_;
}

QSizeGrip* FolderBrowseDialog::addSizeGrip() {
    if (!sizeGrip_) {
        sizeGrip_ = makeChild<QSizeGrip>(this, "sizeGrip");
        sizeGrip_->hide();
    }
    return sizeGrip_;
}

void FolderBrowseDialog::removeExtras() {
    for (QWidget* control : {static_cast<QWidget*>(pathLabel_), static_cast<QWidget*>(pathBox_),
                             static_cast<QWidget*>(extraButton_), static_cast<QWidget*>(sizeGrip_)}) {
        if (!control) continue;
        control->hide();
        control->deleteLater();
    }
    pathLabel_ = nullptr;
    pathBox_ = nullptr;
    extraButton_ = nullptr;
    sizeGrip_ = nullptr;
}

void FolderBrowseDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    emit geometryChanged();
}

void FolderBrowseDialog::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    emit geometryChanged();
}

QString FolderBrowseDialog::browse() {
    callback_(*this, browse::Initialized, QString());
    if (dialogs_.exec(*this) != QDialog::Accepted) return {};
    return chosenPath();
}

void FolderBrowseDialog::setSelection(const QString& path) {
    if (path.isEmpty()) return;
    const QModelIndex index = model_->index(QFileInfo(QDir::fromNativeSeparators(path)).absoluteFilePath());
    if (!index.isValid()) return;
    tree_->setCurrentIndex(index);
    selectionToReveal_ = model_->filePath(index);
    scrollToSelection();
}

void FolderBrowseDialog::scrollToSelection() {
    tree_->scrollTo(tree_->currentIndex(), QAbstractItemView::PositionAtCenter);
}

void FolderBrowseDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    scrollToSelection();
    emit shown();
}

void FolderBrowseDialog::setStatusText(const QString& text) {
    if (status_) status_->setText(text);
}

QString FolderBrowseDialog::selectedPath() const {
    const QModelIndex current = tree_->currentIndex();
    return current.isValid() ? QDir::toNativeSeparators(model_->filePath(current)) : QString();
}

// A name typed into the edit box is taken inside the selected folder, or as a path of its own.
QString FolderBrowseDialog::chosenPath() {
    const QString selected = selectedPath();
    if (!editBox_) return selected;
    const QString typed = editBox_->text();
    if (typed.isEmpty() || typed == FolderNameOf(selected)) return selected;
    const QString inside = JoinPath(WithoutTrailingSeparator(selected), typed);
    if (!selected.isEmpty() && PathExists(inside)) return QDir::toNativeSeparators(QFileInfo(inside).absoluteFilePath());
    if (PathExists(typed)) return QDir::toNativeSeparators(QFileInfo(typed).absoluteFilePath());
    if (!(flags_ & browse::ValidateFlag)) return selected;
    callback_(*this, browse::ValidateFailed, typed);
    return {};
}

}  // namespace clipwren
