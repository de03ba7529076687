#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSizeGrip>
#include <QTemporaryDir>
#include <QStyleOptionButton>
#include <QTest>
#include <QTreeView>
#include <QWhatsThis>
#include <deque>
#include <functional>
#include <optional>

#include "folderbrowser/FolderBrowseDialog.h"
#include "folderbrowser/modBrowseForFolderNew.h"
#include "platform/Dialogs.h"
#include "support/ScriptedDialogs.h"

using namespace clipwren;
using platform::MessageIcon;
using testsupport::ShownMessage;

namespace {

int accept(QDialog& dialog) {
    dialog.accept();
    return dialog.result();
}

int reject(QDialog& dialog) {
    dialog.reject();
    return dialog.result();
}

template <typename Widget = QWidget>
Widget* child(QDialog& dialog, const char* name) {
    return dialog.findChild<Widget*>(QString::fromLatin1(name));
}

QRect outer(QDialog& dialog) { return dialog.frameGeometry(); }

// At the widget's centre unless a position inside the widget is given.
void sendMouse(QWidget* widget, QEvent::Type type, std::optional<QPointF> position = std::nullopt) {
    ASSERT_NE(widget, nullptr);
    const QPointF centre = position.value_or(QPointF(widget->width() / 2.0, widget->height() / 2.0));
    QMouseEvent event(type, centre, widget->mapToGlobal(centre), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void click(QWidget* widget) {
    sendMouse(widget, QEvent::MouseButtonPress);
    sendMouse(widget, QEvent::MouseButtonRelease);
}

void typeAndEnter(QLineEdit* box, const QString& text) {
    ASSERT_NE(box, nullptr);
    box->setText(text);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(box, &enter);
}

void selectInTree(QDialog& dialog, const QString& path) {
    auto* tree = child<QTreeView>(dialog, "tree");
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    const QModelIndex index = model->index(QDir::fromNativeSeparators(path));
    ASSERT_TRUE(index.isValid()) << path.toStdString();
    tree->setCurrentIndex(index);
}

class FolderDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        root = QDir::toNativeSeparators(temp.path());
    }
    void TearDown() override { EXPECT_EQ(user.unscriptedDialogs, 0) << "the folder dialog opened once too often"; }

    // The next opening of the folder dialog runs step, which plays the user.
    void onOpening(std::function<int(FolderBrowseDialog&)> step) {
        user.dialogSteps.push_back(
            [step = std::move(step)](QDialog& dialog) { return step(static_cast<FolderBrowseDialog&>(dialog)); });
    }

    QString path(const QString& name) const { return root + QDir::separator() + QDir::toNativeSeparators(name); }
    QString makeFolder(const QString& name) const {
        EXPECT_TRUE(QDir().mkpath(path(name)));
        return path(name);
    }
    QString makeFile(const QString& name) const {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return path(name);
    }
    // What the main window sets before it asks for the output folder.
    void mainWindowSettings(const QString& initialFolder) {
        BrowseSettings& settings = browser.Settings();
        settings.Caption = "Select Destination Folder for edited MP3";
        settings.Prompt =
            "Please select, or create a folder on your hard disk where edited MP3 copy will be saved :";
        settings.InitialFolder = initialFolder;
        settings.CenterOnScreen = true;
        settings.ShowNewFolderButton = true;
    }

    QTemporaryDir temp;
    QString root;
    testsupport::ScriptedDialogs user;
    modBrowseForFolderNew browser{user};
};

TEST_F(FolderDialog, EmptySettingsShowAndKeepTheDefaults) {
    QWidget* goneOwner = new QWidget;
    delete goneOwner;
    browser.Settings().OwnerWindow = goneOwner;
    onOpening([](FolderBrowseDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Browse for Folder");
        EXPECT_EQ(child<QLabel>(dialog, "prompt")->text(), "Select a folder");
        EXPECT_EQ(child<QPushButton>(dialog, "okButton")->text(), "OK");
        EXPECT_EQ(child<QPushButton>(dialog, "cancelButton")->text(), "Cancel");
        EXPECT_EQ(dialog.selectedPath(), QDir::toNativeSeparators(QDir::rootPath()));
        EXPECT_EQ(dialog.parentWidget(), nullptr);
        EXPECT_EQ(child(dialog, "newFolderButton"), nullptr);
        EXPECT_EQ(child(dialog, "sizeGrip"), nullptr);
        return reject(dialog);
    });
    EXPECT_TRUE(browser.BrowseForFolder().isEmpty());

    const BrowseSettings& settings = browser.Settings();
    EXPECT_EQ(settings.Caption, "Browse for Folder");
    EXPECT_EQ(settings.Prompt, "Select a folder");
    EXPECT_EQ(settings.InitialFolder, QDir::toNativeSeparators(QDir::rootPath()));
    EXPECT_EQ(settings.OkCaption, "OK");
    EXPECT_EQ(settings.CancelCaption, "Cancel");
    EXPECT_EQ(settings.NewFolderCaption, "New Folder");
    EXPECT_EQ(settings.CheckBoxCaption, "Include subfolders");
    EXPECT_EQ(settings.OwnerWindow, nullptr);
    EXPECT_FALSE(settings.CheckBoxValue);
}

TEST_F(FolderDialog, MainWindowSettingsGiveACentredStandardDialog) {
    const QString music = makeFolder("Music");
    const QString rock = makeFolder("Music/Rock");
    mainWindowSettings(music);
    browser.Settings().OkCaption = "Choose";
    onOpening([&](FolderBrowseDialog& dialog) {
        const QRect rect = outer(dialog);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        EXPECT_EQ(rect.size(), QSize(320, 320));
        EXPECT_EQ(rect.x(), screen.x() + (screen.width() - 320) / 2);
        EXPECT_EQ(rect.y(), screen.y() + (screen.height() - 320) / 2);
        const int W = rect.width(), H = rect.height();
        EXPECT_EQ(child(dialog, "newFolderButton")->geometry(), QRect(W - 96, H - 71, 75, 23));
        EXPECT_EQ(child(dialog, "cancelButton")->geometry(), QRect(W - 177, H - 71, 75, 23));
        EXPECT_EQ(child(dialog, "okButton")->geometry(), QRect(W - 258, H - 71, 75, 23));
        EXPECT_EQ(child<QPushButton>(dialog, "newFolderButton")->text(), "New Folder");
        EXPECT_EQ(child<QPushButton>(dialog, "okButton")->text(), "Choose");
        const QRect tree = child(dialog, "tree")->geometry();
        EXPECT_EQ(tree.x(), 21);
        EXPECT_EQ(tree.width(), W - 44);
        EXPECT_EQ(tree.height(), H - tree.y() - 81);
        for (const char* absent : {"pathBox", "pathLabel", "checkBox", "sizeGrip", "status", "editBox"})
            EXPECT_EQ(child(dialog, absent), nullptr) << absent;
        EXPECT_EQ(dialog.selectedPath(), music);
        EXPECT_LT(child(dialog, "prompt")->geometry().right(), W - 10);  // the prompt is not cut off

        // The caption is written again on every notification.
        dialog.setWindowTitle("changed from outside");
        selectInTree(dialog, rock);
        EXPECT_EQ(dialog.windowTitle(), "Select Destination Folder for edited MP3");
        return accept(dialog);
    });
    EXPECT_EQ(browser.BrowseForFolder(), rock);
    EXPECT_EQ(user.dialogsShown, 1);
}

TEST_F(FolderDialog, MissingInitialFolderOpensOnTheFolderThatWouldHoldIt) {
    const QString documents = makeFolder("Documents");
    const QString ringtones = path("Documents/My Ringtones");
    mainWindowSettings(QDir::toNativeSeparators(ringtones + "/Old"));
    user.inputAnswers = {"My Ringtones"};
    onOpening([&](FolderBrowseDialog& dialog) {
        EXPECT_EQ(dialog.selectedPath(), documents);
        click(child(dialog, "newFolderButton"));
        return dialog.result();
    });
    onOpening([&](FolderBrowseDialog& dialog) {
        EXPECT_EQ(dialog.selectedPath(), ringtones);
        return accept(dialog);
    });
    EXPECT_EQ(browser.BrowseForFolder(), ringtones);
    ASSERT_EQ(user.inputs.size(), 1u);
    EXPECT_TRUE(user.inputs[0].prompt.endsWith(documents + QDir::separator() + "..."));
    EXPECT_TRUE(user.messages.empty());
}

TEST_F(FolderDialog, LargeAndFullScreenSizes) {
    browser.Settings().InitialFolder = root;
    browser.Settings().LargeSize = true;
    browser.Settings().FullScreenSize = true;  // large wins
    onOpening([](FolderBrowseDialog& dialog) {
        EXPECT_EQ(outer(dialog).size(), QSize(480, 480));
        const int W = 480, H = 480;
        EXPECT_EQ(child(dialog, "cancelButton")->geometry(), QRect(W - 96, H - 71, 75, 23));
        EXPECT_EQ(child(dialog, "okButton")->geometry(), QRect(W - 177, H - 71, 75, 23));
        return reject(dialog);
    });
    browser.BrowseForFolder();

    browser.Settings().LargeSize = false;
    onOpening([](FolderBrowseDialog& dialog) {
        EXPECT_EQ(outer(dialog), QGuiApplication::primaryScreen()->geometry());
        return reject(dialog);
    });
    browser.BrowseForFolder();
}

TEST_F(FolderDialog, PathBoxLayoutAndTheNameOfTheSelection) {
    const QString rock = makeFolder("Rock");
    BrowseSettings& settings = browser.Settings();
    settings.InitialFolder = rock;
    settings.ShowPathBox = true;
    onOpening([&](FolderBrowseDialog& dialog) {
        const int W = outer(dialog).width(), H = outer(dialog).height();
        auto* box = child<QLineEdit>(dialog, "pathBox");
        auto* label = child<QLabel>(dialog, "pathLabel");
        EXPECT_EQ(box->geometry(), QRect(68, H - 107, W - 90, 23));
        EXPECT_EQ(label->geometry(), QRect(19, H - 101, 45, 13));
        EXPECT_EQ(label->text(), "Folder :");
        const QRect tree = child(dialog, "tree")->geometry();
        EXPECT_EQ(tree.height(), H - tree.y() - 120);

        EXPECT_EQ(box->text(), "Rock");
        EXPECT_EQ(box->cursorPosition(), 4);
        // A root is shown whole, a deeper folder by its last name.
        selectInTree(dialog, QDir::toNativeSeparators(QDir::rootPath()));
        EXPECT_EQ(box->text(), QDir::toNativeSeparators(QDir::rootPath()));
        selectInTree(dialog, root);
        EXPECT_EQ(box->text(), QFileInfo(temp.path()).fileName());
        return reject(dialog);
    });
    browser.BrowseForFolder();
}

TEST_F(FolderDialog, EnterInThePathBoxMovesToASiblingOrATypedPath) {
    const QString a = makeFolder("a");
    const QString b = makeFolder("b");
    const QString d = makeFolder("c/d");
    BrowseSettings& settings = browser.Settings();
    settings.InitialFolder = a;
    settings.ShowPathBox = true;
    onOpening([&](FolderBrowseDialog& dialog) {
        int closed = 0;
        QObject::connect(&dialog, &QDialog::finished, [&closed] { ++closed; });
        auto* box = child<QLineEdit>(dialog, "pathBox");
        typeAndEnter(box, "b");
        EXPECT_EQ(dialog.selectedPath(), b);
        EXPECT_EQ(box->text(), "b");

        typeAndEnter(box, d);
        EXPECT_EQ(dialog.selectedPath(), d);
        EXPECT_EQ(box->text(), "d");

        selectInTree(dialog, b);
        typeAndEnter(box, QStringLiteral("a") + QDir::separator());  // a trailing separator is ignored
        EXPECT_EQ(dialog.selectedPath(), a);

        typeAndEnter(box, "nope");
        EXPECT_EQ(dialog.selectedPath(), a);
        EXPECT_EQ(box->text(), "nope");
        typeAndEnter(box, "");  // not the parent folder
        EXPECT_EQ(dialog.selectedPath(), a);
        EXPECT_EQ(closed, 0);  // Enter does not press OK
        return accept(dialog);
    });
    EXPECT_EQ(browser.BrowseForFolder(), a);
    ASSERT_EQ(user.messages.size(), 2u);
    EXPECT_EQ(user.messages[0].text, "nope\r\nThe specified path does not exist.\r\n\r\nCheck the path, and try again.");
    EXPECT_EQ(user.messages[0].caption, "Browse for Folder");
    EXPECT_EQ(user.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(user.messages[1].text.startsWith("\r\nThe specified path does not exist."));
}

TEST_F(FolderDialog, NewFolderRefusesTakenNamesThenReopensOnTheNewFolder) {
    makeFolder("taken");
    makeFile("song.mp3");
    mainWindowSettings(root);
    const QString created = path(" spaced ");
    const QRect moved(37, 53, 320, 320);
    user.inputAnswers = {"taken", "song.mp3", " spaced "};
    onOpening([&](FolderBrowseDialog& dialog) {
        dialog.move(moved.topLeft());
        click(child(dialog, "newFolderButton"));
        return dialog.result();
    });
    onOpening([&](FolderBrowseDialog& dialog) {
        EXPECT_EQ(outer(dialog), moved);
        EXPECT_EQ(dialog.selectedPath(), created);
        EXPECT_NE(child(dialog, "newFolderButton"), nullptr);
        return accept(dialog);
    });

    EXPECT_EQ(browser.BrowseForFolder(), created);
    EXPECT_EQ(user.dialogsShown, 2);
    EXPECT_TRUE(QFileInfo(created).isDir());
    EXPECT_EQ(browser.Settings().InitialFolder, created);

    ASSERT_EQ(user.inputs.size(), 3u);
    EXPECT_EQ(user.inputs[0].prompt, "Enter a name for your new folder\r\n" + root + QDir::separator() + "...");
    EXPECT_EQ(user.inputs[0].title, "Select Destination Folder for edited MP3");
    ASSERT_EQ(user.messages.size(), 2u);
    for (const testsupport::ShownMessage& message : user.messages) {
        EXPECT_EQ(message.text, "A Folder of that name already exists.\r\nEnter a different name and try again.");
        EXPECT_EQ(message.caption, "Select Destination Folder for edited MP3");
        EXPECT_EQ(message.icon, MessageIcon::Error);
    }
}

TEST_F(FolderDialog, DraggedOffBlankOrCancelledNewFolderLeavesTheDialogAsItWas) {
    mainWindowSettings(root);
    user.inputAnswers = {"   ", ""};
    onOpening([&](FolderBrowseDialog& dialog) {
        int closed = 0;
        QObject::connect(&dialog, &QDialog::finished, [&closed] { ++closed; });
        // Pressed, then released away from the button: the user changed their mind.
        QWidget* button = child(dialog, "newFolderButton");
        sendMouse(button, QEvent::MouseButtonPress);
        sendMouse(button, QEvent::MouseButtonRelease, QPointF(-20, button->height() / 2.0));
        EXPECT_TRUE(user.inputs.empty());
        click(child(dialog, "newFolderButton"));
        click(child(dialog, "newFolderButton"));
        EXPECT_EQ(closed, 0);
        EXPECT_NE(child(dialog, "newFolderButton"), nullptr);
        EXPECT_EQ(dialog.selectedPath(), root);
        return accept(dialog);
    });
    EXPECT_EQ(browser.BrowseForFolder(), root);
    EXPECT_EQ(user.dialogsShown, 1);
    EXPECT_EQ(user.inputs.size(), 2u);
    EXPECT_TRUE(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(FolderDialog, RefusedFolderNameIsReportedAndTheDialogStaysUsable) {
    const QString kept = makeFolder("kept");
    mainWindowSettings(root);
    const QString tooLong(300, QLatin1Char('x'));
    user.inputAnswers = {tooLong};
    onOpening([&](FolderBrowseDialog& dialog) {
        click(child(dialog, "newFolderButton"));
        EXPECT_NE(child(dialog, "newFolderButton"), nullptr);
        selectInTree(dialog, kept);
        return accept(dialog);
    });
    EXPECT_EQ(browser.BrowseForFolder(), kept);
    EXPECT_EQ(user.dialogsShown, 1);  // no reopening: nothing was created
    ASSERT_EQ(user.messages.size(), 1u);
    const testsupport::ShownMessage& message = user.messages[0];
    EXPECT_EQ(message.caption, "Select Destination Folder for edited MP3");
    EXPECT_EQ(message.icon, MessageIcon::Error);
    const QStringList lines = message.text.split("\r\n");
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1], path(tooLong));
    EXPECT_FALSE(lines[2].isEmpty());  // the system's reason
}

TEST_F(FolderDialog, CheckBoxTogglesOnEveryPressAndResetsAtEachCall) {
    BrowseSettings& settings = browser.Settings();
    settings.InitialFolder = root;
    settings.ShowCheckBox = true;
    onOpening([&](FolderBrowseDialog& dialog) {
        const int W = outer(dialog).width(), H = outer(dialog).height();
        auto* box = child<QCheckBox>(dialog, "checkBox");
        EXPECT_EQ(box->geometry(), QRect(20, H - 71, 110, 23));
        EXPECT_EQ(box->text(), "Include subfolders");
        // The caption is readable whole beside the indicator, whatever the face.
        QStyleOptionButton option;
        option.initFrom(box);
        EXPECT_GE(box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box).width(),
                  box->fontMetrics().horizontalAdvance(box->text()));
        EXPECT_EQ(child(dialog, "cancelButton")->geometry(), QRect(W - 96, H - 71, 75, 23));
        EXPECT_EQ(child(dialog, "okButton")->geometry(), QRect(W - 177, H - 71, 75, 23));

        click(box);
        EXPECT_TRUE(box->isChecked());
        EXPECT_TRUE(browser.Settings().CheckBoxValue);
        click(box);
        EXPECT_FALSE(box->isChecked());
        EXPECT_FALSE(browser.Settings().CheckBoxValue);
        click(box);

        // Shift+F1 starts the help mode in which a click asks a control for help.
        auto* helpMode = dialog.findChild<QShortcut*>();
        EXPECT_TRUE(helpMode && helpMode->key() == QKeySequence(Qt::SHIFT | Qt::Key_F1));
        if (helpMode) emit helpMode->activated();
        EXPECT_TRUE(QWhatsThis::inWhatsThisMode());
        QWhatsThis::leaveWhatsThisMode();
        QHelpEvent help(QEvent::WhatsThis, QPoint(1, 1), box->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(box, &help);
        return reject(dialog);
    });
    EXPECT_TRUE(browser.BrowseForFolder().isEmpty());
    EXPECT_TRUE(settings.CheckBoxValue);
    ASSERT_EQ(user.messages.size(), 1u);
    EXPECT_EQ(user.messages[0].text, "Creates a new folder in the currently selected directory");
    EXPECT_EQ(user.messages[0].caption, "Olvaris Enterprises");
    EXPECT_EQ(user.messages[0].icon, MessageIcon::Information);

    onOpening(reject);
    browser.BrowseForFolder();
    EXPECT_FALSE(settings.CheckBoxValue);
}

TEST_F(FolderDialog, SpecialRootFoldersClearTheExtrasForGood) {
    for (int32_t special : {3, 4, 10, 18, 19}) {
        BrowseSettings& settings = browser.Settings();
        settings.InitialFolder = root;
        settings.RootFolder = special;
        settings.ShowNewFolderButton = true;
        settings.ShowCheckBox = true;
        settings.ShowPathBox = true;
        onOpening([](FolderBrowseDialog& dialog) {
            for (const char* absent : {"newFolderButton", "checkBox", "pathBox", "pathLabel"})
                EXPECT_EQ(child(dialog, absent), nullptr) << absent;
            const int H = outer(dialog).height();
            const QRect tree = child(dialog, "tree")->geometry();
            EXPECT_EQ(tree.height(), H - tree.y() - 81);
            return reject(dialog);
        });
        browser.BrowseForFolder();
        EXPECT_FALSE(settings.ShowNewFolderButton) << special;
        EXPECT_FALSE(settings.ShowCheckBox) << special;
        EXPECT_FALSE(settings.ShowPathBox) << special;
    }
    browser.Settings().RootFolder = 5;
    browser.Settings().ShowNewFolderButton = true;
    onOpening([](FolderBrowseDialog& dialog) {
        EXPECT_NE(child(dialog, "newFolderButton"), nullptr);
        return reject(dialog);
    });
    browser.BrowseForFolder();
}

TEST_F(FolderDialog, OnlyWithTheSizeGripIsThereRelayoutAndAMinimumSize) {
    browser.Settings().InitialFolder = root;
    onOpening([](FolderBrowseDialog& dialog) {
        EXPECT_EQ(child(dialog, "sizeGrip"), nullptr);
        dialog.show();
        const QRect cancel = child(dialog, "cancelButton")->geometry();
        dialog.resize(200, 200);
        EXPECT_EQ(dialog.size(), QSize(200, 200));
        EXPECT_EQ(child(dialog, "cancelButton")->geometry(), cancel);
        return reject(dialog);
    });
    browser.BrowseForFolder();

    browser.Settings().ShowSizeGrip = true;
    onOpening([](FolderBrowseDialog& dialog) {
        auto* grip = child<QSizeGrip>(dialog, "sizeGrip");
        if (!grip) {
            ADD_FAILURE() << "no size grip";
            return reject(dialog);
        }
        EXPECT_EQ(grip->geometry(), QRect(320 - 24, 320 - 44, 16, 16));
        dialog.show();
        dialog.resize(100, 100);
        EXPECT_EQ(outer(dialog).size(), QSize(320, 320));

        const QSize frame = outer(dialog).size() - dialog.size();
        dialog.resize(QSize(500, 420) - frame);
        const int W = outer(dialog).width(), H = outer(dialog).height();
        EXPECT_EQ(W, 500);
        EXPECT_EQ(child(dialog, "cancelButton")->geometry(), QRect(W - 96, H - 71, 75, 23));
        EXPECT_EQ(child(dialog, "okButton")->geometry(), QRect(W - 177, H - 71, 75, 23));
        EXPECT_EQ(grip->geometry(), QRect(W - 24, H - 44, 16, 16));
        EXPECT_EQ(child(dialog, "tree")->width(), W - 44);
        return reject(dialog);
    });
    browser.BrowseForFolder();
}

TEST_F(FolderDialog, StatusLineEditBoxAndListedFiles) {
    const QString song = makeFile("song.mp3");
    const QString sub = makeFolder("sub");
    BrowseSettings& settings = browser.Settings();
    settings.InitialFolder = root;
    settings.ShowStatusText = true;
    settings.ShowEditBox = true;
    settings.IncludeFiles = true;
    onOpening([&](FolderBrowseDialog& dialog) {
        const int W = outer(dialog).width();
        auto* status = child<QLabel>(dialog, "status");
        auto* edit = child<QLineEdit>(dialog, "editBox");
        for (QWidget* widget : {static_cast<QWidget*>(status), static_cast<QWidget*>(edit)}) {
            EXPECT_EQ(widget->x(), 21);
            EXPECT_EQ(widget->width(), W - 44);
        }
        EXPECT_EQ(status->text(), root);
        selectInTree(dialog, song);
        EXPECT_EQ(status->text(), song);
        EXPECT_EQ(edit->text(), "song.mp3");

        // A name typed into the edit box is taken inside the selected folder.
        selectInTree(dialog, root);
        edit->setText("sub");
        return accept(dialog);
    });
    EXPECT_EQ(browser.BrowseForFolder(), sub);
}

}  // namespace

TEST_F(FolderDialog, InitialFolderIsScrolledIntoViewOnceTheTreeHasLoaded) {
    // Enough folders above the initial one that the tree must scroll to show it.
    for (int i = 0; i < 80; ++i) makeFolder(QStringLiteral("a%1").arg(i, 2, 10, QLatin1Char('0')));
    const QString deep = makeFolder("zz/deep");
    browser.Settings().InitialFolder = deep;
    onOpening([&](FolderBrowseDialog& dialog) {
        dialog.show();
        auto* tree = child<QTreeView>(dialog, "tree");
        const auto selectionVisible = [tree] {
            return tree->viewport()->rect().contains(tree->visualRect(tree->currentIndex()).center());
        };
        // The file-system model fills in on its own thread; give it time to settle.
        for (int i = 0; i < 100 && !selectionVisible(); ++i) QTest::qWait(50);
        QTest::qWait(300);
        EXPECT_EQ(dialog.selectedPath(), deep);
        EXPECT_TRUE(selectionVisible());
        return reject(dialog);
    });
    browser.BrowseForFolder();
}

TEST(WindowText, OfEachKindOfWidget) {
    QWidget window;
    window.setWindowTitle("Title");
    auto* edit = new QLineEdit("typed", &window);
    auto* label = new QLabel("Folder :", &window);
    auto* button = new QPushButton("OK", &window);
    EXPECT_EQ(GetWindowTextAll(edit), "typed");
    EXPECT_EQ(GetWindowTextAll(label), "Folder :");
    EXPECT_EQ(GetWindowTextAll(button), "OK");
    EXPECT_EQ(GetWindowTextAll(&window), "Title");
    EXPECT_TRUE(GetWindowTextAll(nullptr).isEmpty());
}
