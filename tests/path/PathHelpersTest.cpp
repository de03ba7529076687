#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <array>

#include "core/modPath.h"

using namespace clipwren;

namespace {

// One path and what selectors 1 to 10 give for it.
struct PathParts {
    const char* path;
    std::array<const char*, 10> parts;
};

void expectParts(const std::vector<PathParts>& rows) {
    for (const auto& row : rows)
        for (int selector = 1; selector <= 10; ++selector)
            EXPECT_EQ(GetPathPart(QString::fromUtf8(row.path), selector),
                      QString::fromUtf8(row.parts[size_t(selector - 1)]))
                << row.path << " selector " << selector;
}

}  // namespace

TEST(GetPathPart, FileNameWithoutExtensionKeepsInnerDots) {
    const std::vector<std::pair<const char*, const char*>> cases = {
        {R"(C:\Music\my.song.mp3)", "my.song"}, {R"(C:\Music\song)", "song"},
        {"song.mp3", "song"},                   {"/home/me/Music/song.mp3", "song"},
        {"/home/me/Music/my.song.mp3", "my.song"}, {R"(C:\my.folder\song)", "song"},
        {"/home/me.d/song", "song"},            {"C:/Music/song.mp3", "song"},
        {R"(C:\Music/mixed\song.ogg)", "song"},
        // Drives, folders with a trailing separator and unclassified text have no file name.
        {R"(C:\)", ""}, {"C:", ""}, {R"(C:\Music\)", ""}, {"/home/me/Music/", ""}, {"/", ""},
        {"abc", ""},    {"C:song.mp3", ""}, {"", ""},
    };
    for (const auto& [path, expected] : cases) EXPECT_EQ(GetPathPart(path, 2), expected) << path;
}

TEST(GetPathPart, EverySelectorOfEachClass) {
    expectParts({
        // full file path
        {R"(C:\Music\Rock\song.mp3)",
         {"song.mp3", "song", "mp3", R"(C:\Music\Rock)", "C:", "Rock", "Music", R"(Rock\song.mp3)", R"(C:\Music)",
          R"(C:\Music\Rock\song.mp3)"}},
        {R"(C:\song.mp3)", {"song.mp3", "song", "mp3", "C:", "C:", "C:", "", R"(C:\song.mp3)", "", R"(C:\song.mp3)"}},
        {R"(\Music\song.mp3)",
         {"song.mp3", "song", "mp3", "Music", "", "Music", "Music", R"(Music\song.mp3)", "", R"(\Music\song.mp3)"}},
        {R"(Music\Rock\song.mp3)",
         {"song.mp3", "song", "mp3", R"(Music\Rock)", "", "Rock", "Music", R"(Rock\song.mp3)", "",
          R"(Music\Rock\song.mp3)"}},
        {"/home/me/Music/song.mp3",
         {"song.mp3", "song", "mp3", "/home/me/Music", "", "Music", "home", "Music/song.mp3", "/home",
          "/home/me/Music/song.mp3"}},
        {"/song.mp3", {"song.mp3", "song", "mp3", "/", "", "", "", "/song.mp3", "", "/song.mp3"}},
        // path without extension
        {R"(C:\Music\Rock)",
         {"Rock", "Rock", "", R"(C:\Music)", "C:", "Music", "Music", R"(Music\Rock)", R"(C:\Music)", R"(C:\Music\Rock)"}},
        {"/home/me/Music",
         {"Music", "Music", "", "/home/me", "", "me", "home", "me/Music", "/home", "/home/me/Music"}},
        // folder with a trailing separator; a short POSIX one too, unlike a three-character drive root
        {R"(C:\Music\Rock\)",
         {"", "", "", R"(C:\Music\Rock)", "C:", "Rock", "Music", "", R"(C:\Music)", R"(C:\Music\Rock\)"}},
        {"/home/me/Music/", {"", "", "", "/home/me/Music", "", "Music", "home", "", "/home", "/home/me/Music/"}},
        {"/a/", {"", "", "", "/a", "", "a", "a", "", "/a", "/a/"}},
        // drives and the POSIX root
        {R"(C:\)", {"", "", "", R"(C:\)", "C:", "", "", "", "", R"(C:\)"}},
        {"C:", {"", "", "", "C:", "C:", "", "", "", "", "C:"}},
        {"C:/", {"", "", "", "C:/", "C:", "", "", "", "", "C:/"}},
        {"/", {"", "", "", "/", "", "", "", "", "", "/"}},
        // bare file name
        {"my.song.mp3", {"my.song.mp3", "my.song", "mp3", "my.song.mp3", "", "", "", "", "", "my.song.mp3"}},
        // unclassified
        {"abc", {"", "", "", "", "", "", "", "", "", ""}},
        {"C:song.mp3", {"", "", "", "", "", "", "", "", "", ""}},
    });
    for (int selector : {0, -1, 11, 1000}) EXPECT_TRUE(GetPathPart(R"(C:\Music\song.mp3)", selector).isEmpty());
}

TEST(PathText, FolderNameParentAndTheTextBeforeANul) {
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

TEST(PathText, EveryPlatformHasTheModernLook) { EXPECT_TRUE(IsVersion5OrLater()); }
