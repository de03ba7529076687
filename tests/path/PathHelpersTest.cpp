#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "folderbrowser/modPath.h"

using namespace clipwren;

namespace {

struct PartCase {
    const char* path;
    int selector;
    const char* expected;
};

void expectParts(const std::vector<PartCase>& cases) {
    for (const auto& c : cases)
        EXPECT_EQ(GetPathPart(QString::fromUtf8(c.path), c.selector), QString::fromUtf8(c.expected))
            << c.path << " selector " << c.selector;
}

}  // namespace

TEST(GetPathPart, FileNameWithoutExtensionKeepsInnerDots) {
    expectParts({
        {R"(C:\Music\my.song.mp3)", 2, "my.song"},
        {R"(C:\Music\song)", 2, "song"},
        {"song.mp3", 2, "song"},
        {"/home/me/Music/song.mp3", 2, "song"},
        {"/home/me/Music/my.song.mp3", 2, "my.song"},
        {R"(C:\my.folder\song)", 2, "song"},
        {"/home/me.d/song", 2, "song"},
        {"C:/Music/song.mp3", 2, "song"},
        {R"(C:\Music/mixed\song.ogg)", 2, "song"},
    });
}

TEST(GetPathPart, SelectorTwoIsEmptyForDrivesFoldersAndUnclassifiedText) {
    expectParts({
        {R"(C:\)", 2, ""},
        {"C:", 2, ""},
        {R"(C:\Music\)", 2, ""},
        {"/home/me/Music/", 2, ""},
        {"/", 2, ""},
        {"abc", 2, ""},
        {"C:song.mp3", 2, ""},
        {"", 2, ""},
    });
}

TEST(GetPathPart, FullFilePathAllSelectors) {
    expectParts({
        {R"(C:\Music\Rock\song.mp3)", 1, "song.mp3"},
        {R"(C:\Music\Rock\song.mp3)", 3, "mp3"},
        {R"(C:\Music\Rock\song.mp3)", 4, R"(C:\Music\Rock)"},
        {R"(C:\Music\Rock\song.mp3)", 5, "C:"},
        {R"(C:\Music\Rock\song.mp3)", 6, "Rock"},
        {R"(C:\Music\Rock\song.mp3)", 7, "Music"},
        {R"(C:\Music\Rock\song.mp3)", 8, R"(Rock\song.mp3)"},
        {R"(C:\Music\Rock\song.mp3)", 9, R"(C:\Music)"},
        {R"(C:\Music\Rock\song.mp3)", 10, R"(C:\Music\Rock\song.mp3)"},
        // Right under the root there is no top folder.
        {R"(C:\song.mp3)", 4, "C:"},
        {R"(C:\song.mp3)", 7, ""},
        {R"(C:\song.mp3)", 9, ""},
        // A leading backslash is dropped from the folder; the top folder is found without a drive.
        {R"(\Music\song.mp3)", 4, "Music"},
        {R"(\Music\song.mp3)", 5, ""},
        {R"(\Music\song.mp3)", 7, "Music"},
        {R"(Music\Rock\song.mp3)", 7, "Music"},
        {R"(\Music\song.mp3)", 9, ""},
    });
}

TEST(GetPathPart, PosixFullFilePath) {
    expectParts({
        {"/home/me/Music/song.mp3", 1, "song.mp3"},
        {"/home/me/Music/song.mp3", 3, "mp3"},
        {"/home/me/Music/song.mp3", 4, "/home/me/Music"},
        {"/home/me/Music/song.mp3", 5, ""},
        {"/home/me/Music/song.mp3", 6, "Music"},
        {"/home/me/Music/song.mp3", 7, "home"},
        {"/home/me/Music/song.mp3", 8, "Music/song.mp3"},
        {"/home/me/Music/song.mp3", 9, "/home"},
        {"/home/me/Music/song.mp3", 10, "/home/me/Music/song.mp3"},
        {"/song.mp3", 4, "/"},
        {"/song.mp3", 7, ""},
        {"/song.mp3", 9, ""},
    });
}

TEST(GetPathPart, PathWithoutExtension) {
    expectParts({
        {R"(C:\Music\Rock)", 1, "Rock"},
        {R"(C:\Music\Rock)", 3, ""},
        {R"(C:\Music\Rock)", 4, R"(C:\Music)"},
        {R"(C:\Music\Rock)", 5, "C:"},
        {R"(C:\Music\Rock)", 6, "Music"},
        {R"(C:\Music\Rock)", 7, "Music"},
        {R"(C:\Music\Rock)", 8, R"(Music\Rock)"},
        {R"(C:\Music\Rock)", 9, R"(C:\Music)"},
        {"/home/me/Music", 1, "Music"},
        {"/home/me/Music", 4, "/home/me"},
        {"/home/me/Music", 8, "me/Music"},
        {"/home/me/Music", 9, "/home"},
    });
}

TEST(GetPathPart, FolderWithTrailingSeparator) {
    expectParts({
        {R"(C:\Music\Rock\)", 1, ""},
        {R"(C:\Music\Rock\)", 3, ""},
        {R"(C:\Music\Rock\)", 4, R"(C:\Music\Rock)"},
        {R"(C:\Music\Rock\)", 5, "C:"},
        {R"(C:\Music\Rock\)", 6, "Rock"},
        {R"(C:\Music\Rock\)", 7, "Music"},
        {R"(C:\Music\Rock\)", 8, ""},
        {R"(C:\Music\Rock\)", 9, R"(C:\Music)"},
        {R"(C:\Music\Rock\)", 10, R"(C:\Music\Rock\)"},
        {"/home/me/Music/", 4, "/home/me/Music"},
        {"/home/me/Music/", 6, "Music"},
        {"/home/me/Music/", 7, "home"},
        {"/home/me/Music/", 9, "/home"},
        // A short POSIX folder is still a folder, unlike a three-character drive root.
        {"/a/", 4, "/a"},
        {"/a/", 6, "a"},
    });
}

TEST(GetPathPart, DrivesAndThePosixRoot) {
    expectParts({
        {R"(C:\)", 1, ""},
        {R"(C:\)", 4, R"(C:\)"},
        {R"(C:\)", 5, "C:"},
        {R"(C:\)", 6, ""},
        {R"(C:\)", 7, ""},
        {R"(C:\)", 9, ""},
        {R"(C:\)", 10, R"(C:\)"},
        {"C:", 4, "C:"},
        {"C:", 5, "C:"},
        {"C:/", 4, "C:/"},
        {"/", 4, "/"},
        {"/", 5, ""},
        {"/", 10, "/"},
    });
}

TEST(GetPathPart, BareFileName) {
    expectParts({
        {"my.song.mp3", 1, "my.song.mp3"},
        {"my.song.mp3", 2, "my.song"},
        {"my.song.mp3", 3, "mp3"},
        {"my.song.mp3", 4, "my.song.mp3"},
        {"my.song.mp3", 5, ""},
        {"my.song.mp3", 6, ""},
        {"my.song.mp3", 7, ""},
        {"my.song.mp3", 8, ""},
        {"my.song.mp3", 9, ""},
        {"my.song.mp3", 10, "my.song.mp3"},
    });
}

TEST(GetPathPart, UnclassifiedTextAndSelectorsOutOfRangeGiveEmptyText) {
    for (int selector = 0; selector <= 11; ++selector) {
        EXPECT_TRUE(GetPathPart("abc", selector).isEmpty()) << selector;
        EXPECT_TRUE(GetPathPart("C:song.mp3", selector).isEmpty()) << selector;
    }
    for (int selector : {0, -1, 11, 1000}) EXPECT_TRUE(GetPathPart(R"(C:\Music\song.mp3)", selector).isEmpty());
}

TEST(PathText, FolderNameAndParent) {
    EXPECT_EQ(FolderNameOf(R"(C:\)"), R"(C:\)");
    EXPECT_EQ(FolderNameOf(R"(C:\Music\Rock)"), "Rock");
    EXPECT_EQ(FolderNameOf("/home/me/Music"), "Music");
    EXPECT_EQ(FolderNameOf("/"), "/");
    EXPECT_EQ(FolderNameOf("/ab"), "ab");
    EXPECT_EQ(FolderNameOf("Rock"), "Rock");

    EXPECT_EQ(ParentFolderOf(R"(C:\Music\Rock)"), R"(C:\Music)");
    EXPECT_EQ(ParentFolderOf(R"(C:\Music)"), "C:");
    EXPECT_EQ(ParentFolderOf("/home/me"), "/home");
    // Joining the parent of a top folder with a name gives a path under the root again.
    EXPECT_EQ(ParentFolderOf("/home") + "/x", "/x");
    EXPECT_TRUE(ParentFolderOf("Rock").isEmpty());
    EXPECT_TRUE(ParentFolderOf("").isEmpty());
}

TEST(PathText, TrimAtNull) {
    QString buffer = "C:\\Music";
    buffer.append(QChar(0)).append("garbage");
    EXPECT_EQ(TrimAtNull(buffer), R"(C:\Music)");
    EXPECT_EQ(TrimAtNull("no nul"), "no nul");
    EXPECT_TRUE(TrimAtNull(QString(QChar(0))).isEmpty());
}

TEST(PathExists, FilesAndFoldersExistEmptyAndMissingDoNot) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("song.mp3");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.close();

    EXPECT_TRUE(PathExists(dir.path()));
    EXPECT_TRUE(PathExists(file));
    EXPECT_TRUE(PathExists(QDir::toNativeSeparators(file)));
    EXPECT_FALSE(PathExists(dir.filePath("missing")));
    EXPECT_FALSE(PathExists(""));
}

TEST(PathExists, DriveRootsFollowTheDriveList) {
    QStringList letters;
    for (const QFileInfo& drive : QDir::drives()) {
        const QString root = drive.absoluteFilePath();
        if (root.size() >= 2 && root[1] == ':') letters << root.left(1).toUpper();
    }
    for (char c = 'A'; c <= 'Z'; ++c) {
        const QString letter(QChar::fromLatin1(c));
        EXPECT_EQ(PathExists(letter + ":\\"), letters.contains(letter)) << c;
        EXPECT_EQ(PathExists(letter.toLower() + ":/"), letters.contains(letter)) << c;
    }
}

TEST(PathText, WindowTextOfEachKindOfWidget) {
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
    EXPECT_TRUE(IsVersion5OrLater());
}
