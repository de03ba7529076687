// The format table and the choice of settings by output name.
#include "components/errors/modSoundErrDesc.h"
#include "components/soundeditor/FormatTable.h"
#include "components/soundeditor/OutputFormatForPath.h"

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

}  // namespace
