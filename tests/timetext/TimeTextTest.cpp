#include <gtest/gtest.h>

#include <limits>

#include "core/modTimeText.h"

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

TEST(ParseTimeText, RefusesTextThatIsNotATimeText) {
    for (const char* bad : {"", "1:23:456", "01:23:45", "01:23:4567", "aa:bb:ccc", "01:2x:456", "01:23:45 ",
                            " 1:23:456", "01:23:+56", "--:00:000", "01:23:4-6", "00:00:-001", "1x0:00:000"}) {
        EXPECT_FALSE(ParseTimeText(QString::fromLatin1(bad)).has_value()) << bad;
    }
    // Counts beyond 32 bits, however many minute digits carry them.
    EXPECT_FALSE(ParseTimeText("35791:23:648").has_value());
    EXPECT_FALSE(ParseTimeText("99999999999999:00:000").has_value());
}

TEST(ParseTimeText, ReadsBackTheLongMinutesOfSoundsOfHundredMinutesAndMore) {
    // A three-hour sound's end mark, or a mark set late in it, must be cut as shown.
    EXPECT_EQ(ParseTimeText("100:00:000"), 6000000);
    EXPECT_EQ(ParseTimeText("180:00:500"), 10800500);
    for (const int32_t ms : {6000000, 10800500, std::numeric_limits<int32_t>::max()})
        EXPECT_EQ(ParseTimeText(FormatTimeText(ms)), ms) << ms;
}

TEST(ParseTimeText, AcceptsAMinusSignInFrontOfAField) {
    EXPECT_EQ(ParseTimeText("-1:00:000"), -60000);
    EXPECT_EQ(ParseTimeText("00:00:-01"), -1);
}
