// The format table, the choice of settings by output name, and the temporary-file output.
#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/FormatTable.h"
#include "components/soundeditor/OutputFormatForPath.h"
#include "components/soundeditor/PendingOutputFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace clipwren;
using namespace clipwren::soundeditor;

namespace {

TEST(OutputFormatForPath, ChoosesSettingsByLastThreeCharactersIgnoringCase) {
    OutputFormatSettings s;
    SetOutputFormatForPath(s, "/x/Song-part.MP3");
    EXPECT_EQ(s.FormatCode, 2);
    EXPECT_EQ(s.Mp3Options.Mode, 1);
    EXPECT_EQ(s.Mp3Options.BitRate, 128000);
    SetOutputFormatForPath(s, "C:\\a\\b.wma");
    EXPECT_EQ(s.FormatCode, 3);
    SetOutputFormatForPath(s, "b.aac");
    EXPECT_EQ(s.FormatCode, 6);
    EXPECT_FALSE(s.AacOptions.Mp4Container);
    EXPECT_EQ(s.AacOptions.Quality, 100);
    SetOutputFormatForPath(s, "b.Mp4");
    EXPECT_EQ(s.FormatCode, 6);
    EXPECT_TRUE(s.AacOptions.Mp4Container);
    SetOutputFormatForPath(s, "b.ogg");
    EXPECT_EQ(s.FormatCode, 4);
    EXPECT_EQ(s.OggOptions.Quality, 4);
    SetOutputFormatForPath(s, "b.m4a");
    EXPECT_EQ(s.FormatCode, 1);
    EXPECT_EQ(s.DefaultOptions.Mode, 1);
    // Only the last three characters count: "xmp3" is MP3, "mp3.wav" is not.
    SetOutputFormatForPath(s, "noextmp3");
    EXPECT_EQ(s.FormatCode, 2);
    SetOutputFormatForPath(s, "a.mp3.wav");
    EXPECT_EQ(s.FormatCode, 1);
}

TEST(FormatTable, RejectsUnknownCodesModesAndValues) {
    Encoding encoding;
    OutputFormatSettings s;
    s.FormatCode = 5;
    EXPECT_EQ(chooseEncoding(s, "a.wav", 2, &encoding), err::InvalidExportSettings);
    s.FormatCode = 4;
    s.OggOptions.Quality = 11;
    EXPECT_EQ(chooseEncoding(s, "a.ogg", 2, &encoding), err::InvalidExportSettings);
    s.FormatCode = 6;
    s.AacOptions.Quality = 0;
    EXPECT_EQ(chooseEncoding(s, "a.aac", 2, &encoding), err::InvalidExportSettings);
    s.FormatCode = 2;
    s.Mp3Options.Mode = 7;
    EXPECT_EQ(chooseEncoding(s, "a.mp3", 2, &encoding), err::InvalidExportSettings);
}

TEST(FormatTable, DefaultFormatFollowsTheOutputExtension) {
    OutputFormatSettings s;
    Encoding e;
    ASSERT_EQ(chooseEncoding(s, "/d/a.M4R", 2, &e), err::Ok);
    EXPECT_STREQ(e.codec, "aac");
    ASSERT_EQ(chooseEncoding(s, "/d/a.flac", 2, &e), err::Ok);
    EXPECT_STREQ(e.codec, "flac");
    ASSERT_EQ(chooseEncoding(s, "/d/a.xyz", 2, &e), err::Ok);
    EXPECT_STREQ(e.codec, "pcm_s16le");
    // Top AAC quality is at least 160 kbit/s for stereo, and quality scales the rate.
    EXPECT_GE(aacBitRateForQuality(100, 2), 160000);
    EXPECT_LT(aacBitRateForQuality(50, 2), aacBitRateForQuality(100, 2));
}

TEST(PendingOutputFile, CreatesMissingFolderAndReplacesOnlyOnCommit) {
    QTemporaryDir dir;
    const QString target = dir.filePath("new/folder/out.wav");
    {
        PendingOutputFile pending(target);
        ASSERT_EQ(pending.create(), err::Ok);
        EXPECT_TRUE(QDir(dir.filePath("new/folder")).exists());
        EXPECT_EQ(QFileInfo(pending.temporaryPath()).absolutePath(), QFileInfo(target).absolutePath());
    }
    // Never committed: nothing left behind.
    EXPECT_TRUE(QDir(dir.filePath("new/folder")).entryList(QDir::Files | QDir::Hidden).isEmpty());

    QFile existing(target);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old");
    existing.close();
    PendingOutputFile pending(target);
    ASSERT_EQ(pending.create(), err::Ok);
    QFile temp(pending.temporaryPath());
    ASSERT_TRUE(temp.open(QIODevice::WriteOnly));
    temp.write("new content");
    temp.close();
    ASSERT_EQ(pending.commit(), err::Ok);
    QFile result(target);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll(), "new content");
    EXPECT_EQ(QDir(dir.filePath("new/folder")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

}  // namespace
