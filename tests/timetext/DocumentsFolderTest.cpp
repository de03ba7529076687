#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>

#include "core/modSpecialFolders.h"

using namespace clipwren;

TEST(SpecialFolders, DocumentsFolderIsThePlatformsWithoutTrailingSeparator) {
    const QString documents = GetMyDocumentsFolder();
    ASSERT_FALSE(documents.isEmpty());
    EXPECT_FALSE(documents.endsWith('/'));
    EXPECT_EQ(QDir(documents), QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
    EXPECT_EQ(GetSpecialFolderPath(csidl::Personal), documents);
}

TEST(SpecialFolders, UnknownFolderNumberGivesEmptyText) {
    EXPECT_TRUE(GetSpecialFolderPath(0x7fff).isEmpty());
    EXPECT_TRUE(GetSpecialFolderPath(-1).isEmpty());
}
