#include <gtest/gtest.h>

#include <QFontMetrics>

#include "widgets/FitFont.h"

using clipwren::FitFontToWidth;

namespace {
int advance(const QFont& font, const QString& text) { return QFontMetrics(font).horizontalAdvance(text); }
}  // namespace

TEST(FitFont, NarrowsOnlyAsFarAsTheTextNeedsAndShrinksOnlyBeyondThat) {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(8.25);
    const QString caption = QStringLiteral("Mark begin");
    const int natural = advance(font, caption);

    const QFont same = FitFontToWidth(font, caption, natural);
    EXPECT_EQ(same, font);

    // Two pixels too wide: the same size, barely narrower, not a visibly squeezed face.
    const QFont slightly = FitFontToWidth(font, caption, natural - 2);
    EXPECT_LE(advance(slightly, caption), natural - 2);
    EXPECT_DOUBLE_EQ(slightly.pointSizeF(), 8.25);
    EXPECT_GE(slightly.stretch(), 93);

    // Far too wide for narrowing alone: smaller points, and it fits.
    const QFont much = FitFontToWidth(font, caption, natural * 2 / 3);
    EXPECT_LE(advance(much, caption), natural * 2 / 3);
    EXPECT_LT(much.pointSizeF(), 8.25);
}
