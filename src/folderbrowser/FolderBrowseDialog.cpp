#include "folderbrowser/FolderBrowseDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
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
Widget* makeChild(QWidget* parent, const char* windowClass, const char* name) {
    auto* child = new Widget(parent);
    child->setProperty(kWindowClassProperty, QString::fromLatin1(windowClass));
    child->setObjectName(QString::fromLatin1(name));
    return child;
}

}  // namespace

FolderBrowseDialog::FolderBrowseDialog(QWidget* owner, const QString& prompt, unsigned flags, Callback callback)
    : QDialog(owner), flags_(flags), callback_(std::move(callback)) {
    setWindowTitle(QStringLiteral("Browse for Folder"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    // Most window managers here draw no help button in the caption: Shift+F1 starts the same
    // help mode, in which a click on a control asks it for help.
    auto* helpMode = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1), this);
    connect(helpMode, &QShortcut::activated, this, [] { QWhatsThis::enterWhatsThisMode(); });
    resize(kDefaultWidth, kDefaultHeight);
    const int innerWidth = kDefaultWidth - 2 * kMargin;

    // Children in the order the scan meets them: prompt, status line, edit box, tree, buttons.
    auto* promptLabel = makeChild<QLabel>(this, "Static", "prompt");
    promptLabel->setText(prompt);
    promptLabel->setWordWrap(true);
    promptLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    promptLabel->setGeometry(kMargin, 10, innerWidth, 40);
    int top = 52;
    if (flags_ & browse::StatusTextFlag) {
        status_ = makeChild<QLabel>(this, "Static", "status");
        status_->setGeometry(kMargin, top, innerWidth, 16);
        top += 18;
    }
    if (flags_ & browse::EditBoxFlag) {
        editBox_ = makeChild<QLineEdit>(this, "Edit", "editBox");
        editBox_->setGeometry(kMargin, top, innerWidth, 21);
        top += 25;
    }

    tree_ = makeChild<QTreeView>(this, "SysTreeView32", "tree");
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

    auto* ok = makeChild<QPushButton>(this, "Button", "okButton");
    ok->setText(QStringLiteral("OK"));
    ok->setDefault(true);
    ok->setGeometry(kDefaultWidth - 174, kDefaultHeight - 36, 75, 23);
    auto* cancel = makeChild<QPushButton>(this, "Button", "cancelButton");
    cancel->setText(QStringLiteral("Cancel"));
    cancel->setGeometry(kDefaultWidth - 87, kDefaultHeight - 36, 75, 23);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString FolderBrowseDialog::browse() {
    callback_(*this, browse::Initialized, QString());
    if (platform::dialogs().exec(*this) != QDialog::Accepted) return {};
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
