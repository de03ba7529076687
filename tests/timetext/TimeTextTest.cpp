#include <gtest/gtest.h>

#include <limits>

#include "editor/modTimeText.h"

using clipwren::FormatTimeText;
using clipwren::ParseTimeText;

TEST(FormatTimeText, ZeroFillsEachPartAndCarriesOverAtTheMinute) {
    EXPECT_EQ(FormatTimeText(0), "00:00:000");
    EXPECT_EQ(FormatTimeText(83456), "01:23:456");
    EXPECT_EQ(FormatTimeText(59999), "00:59:999");
    EXPECT_EQ(FormatTimeText(60000), "01:00:000");
    EXPECT_EQ(FormatTimeText(123456), "02:03:456");
    EXPECT_EQ(FormatTimeText(5999999), "99:59:999");
}

TEST(FormatTimeText, WritesLongMinutesInFullAndNegativePartsWithTheirSign) {
    EXPECT_EQ(FormatTimeText(6000000), "100:00:000");
    EXPECT_EQ(FormatTimeText(-1), "00:00:-001");
    EXPECT_EQ(FormatTimeText(-61001), "-01:-01:-001");
    EXPECT_EQ(FormatTimeText(std::numeric_limits<int32_t>::max()), "35791:23:647");
    EXPECT_EQ(FormatTimeText(std::numeric_limits<int32_t>::min()), "-35791:-23:-648");
}

TEST(ParseTimeText, ReadsFixedPositionsAndIgnoresTheSeparators) {
    EXPECT_EQ(ParseTimeText("01:23:456"), 83456);
    EXPECT_EQ(ParseTimeText("99:59:999"), 5999999);
    EXPECT_EQ(ParseTimeText("00:00:000"), 0);
    EXPECT_EQ(ParseTimeText("01.23.456"), 83456);
    EXPECT_EQ(ParseTimeText("01x23y456"), 83456);
    // Seconds above 59 are taken at face value, as the positions say.
    EXPECT_EQ(ParseTimeText("00:99:000"), 99000);
}

TEST(ParseTimeText, RoundTripsEveryNineCharacterText) {
    for (int32_t ms = 0; ms <= 5999999; ms += 997) {
        ASSERT_EQ(ParseTimeText(FormatTimeText(ms)), ms) << ms;
    }
    EXPECT_EQ(ParseTimeText(FormatTimeText(5999999)), 5999999);
}

TEST(ParseTimeText, RefusesTextThatIsNotOfTheNineCharacterForm) {
    for (const char* bad : {"", "1:23:456", "01:23:45", "100:00:000", "01:23:4567", "aa:bb:ccc", "01:2x:456",
                            "01:23:45 ", " 1:23:456", "01:23:+56", "--:00:000", "01:23:4-6", "00:00:-001"}) {
        EXPECT_FALSE(ParseTimeText(QString::fromLatin1(bad)).has_value()) << bad;
    }
    // Fourteen digits would overflow if read as one number; the fixed form never is.
    EXPECT_FALSE(ParseTimeText("99999999999999:00:000").has_value());
}

TEST(ParseTimeText, AcceptsAMinusSignInFrontOfAField) {
    EXPECT_EQ(ParseTimeText("-1:00:000"), -60000);
    EXPECT_EQ(ParseTimeText("00:00:-01"), -1);
}
