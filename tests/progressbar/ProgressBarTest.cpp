#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QPalette>
#include <climits>
#include <optional>
#include <string>

#include "ProgressBarPixels.h"

using clipwren::XP_ProgressBar;
using namespace progressbartest;

namespace {

uint32_t paletteColour(QPalette::ColorRole role) {
    const QColor c = QGuiApplication::palette().color(QPalette::Active, role);
    return uint32_t(c.red()) | (uint32_t(c.green()) << 8) | (uint32_t(c.blue()) << 16);
}

// One character per column of the horizontal bar's inside (x 2..W-3) along a row:
// '#' painted, '.' white.
std::string rowPattern(const QImage& image, int row) {
    std::string pattern;
    for (int x = 2; x < image.width() - 2; ++x) pattern += at(image, x, row) == kWhite ? '.' : '#';
    return pattern;
}

// Blocks of 8 from x 2 with white 2-pixel gaps, filled up to (not including) end.
std::string expectedBlocks(int width, int end) {
    std::string pattern;
    for (int x = 2; x < width - 2; ++x) pattern += (x < end && x % 10 >= 2) ? '#' : '.';
    return pattern;
}

bool hasDarkPixel(const QImage& image, QRect area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100) return true;
        }
    return false;
}

// The three grey outlines and the dark corner pixels; nothing for the inside.
std::optional<uint32_t> frameAt(int x, int y, int W, int H) {
    const bool edgeColumn = x == 1 || x == W - 2;
    const bool edgeRow = y == 1 || y == H - 2;
    if (x == 0 || y == 0 || x == W - 1 || y == H - 1 || (edgeColumn && edgeRow)) return 0x686868;
    if (y == 1) return 0xBEBEBE;
    if (edgeColumn || y == 2 || y == H - 2) return 0xEFEFEF;
    return std::nullopt;
}

// Checks the frame and that the inside is all white (whiteInside) or left alone.
void expectFrame(const QImage& image, bool whiteInside = false) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const std::optional<uint32_t> frame = frameAt(x, y, image.width(), image.height());
            if (frame || whiteInside) {
                ASSERT_EQ(at(image, x, y), frame.value_or(kWhite)) << x << "," << y;
            }
        }
}

}  // namespace

TEST(ProgressBar, FreshControlIsAnEmptyFramedBarWithCutCornersAndDefaults) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(450, 10);
    bar.repaint();
    expectFrame(pixels(bar), true);

    EXPECT_EQ(bar.Min(), 0);
    EXPECT_EQ(bar.Max(), 100);
    EXPECT_EQ(bar.Value(), 0);
    EXPECT_FALSE(bar.ShowText());
    EXPECT_EQ(bar.Orientation(), 0);
    EXPECT_EQ(bar.Scrolling(), 0);
    EXPECT_EQ(bar.Font().pointSize(), 8);
    EXPECT_EQ(bar.hwnd(), &bar);
    EXPECT_EQ(bar.Color(), paletteColour(QPalette::Highlight));
    EXPECT_NE(bar.Color(), XP_ProgressBar::kSystemHighlight);

    const QRegion shape = bar.mask();
    for (QPoint cut : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(449, 0), QPoint(448, 0), QPoint(449, 1),
                       QPoint(0, 9), QPoint(1, 9), QPoint(0, 8), QPoint(449, 9), QPoint(448, 9), QPoint(449, 8)})
        EXPECT_FALSE(shape.contains(cut)) << cut.x() << "," << cut.y();
    for (QPoint kept : {QPoint(2, 0), QPoint(1, 1), QPoint(0, 2), QPoint(447, 0), QPoint(448, 8), QPoint(225, 5)})
        EXPECT_TRUE(shape.contains(kept)) << kept.x() << "," << kept.y();
}

TEST(ProgressBar, CuttingTheCornersDoesNotKeepSchedulingPaints) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(450, 10);
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    bar.installEventFilter(&counter);
    bar.repaint();
    // Updates are delivered on a short timer: let a few rounds of them pass.
    QTest::qWait(100);
    const int settled = counter.paints;
    QTest::qWait(200);
    EXPECT_EQ(counter.paints, settled);
}

TEST(ProgressBar, HorizontalValuesEndOnTheTenPixelGrid) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(450, 10);
    bar.setColor(kRed);
    for (auto [value, end] : {std::pair{0, 2}, {5, 20}, {7, 30}, {50, 220}, {100, 450}}) {
        bar.setValue(value);
        const QImage image = pixels(bar);
        for (int row = 3; row <= 7; ++row)
            EXPECT_EQ(rowPattern(image, row), expectedBlocks(450, end)) << "value " << value << " row " << row;
        expectFrame(image);
    }
    // Smooth: the same end on the grid, no gaps.
    bar.setScrolling(1);
    bar.setValue(50);
    EXPECT_EQ(rowPattern(pixels(bar), 5), std::string(218, '#') + std::string(228, '.'));

    // A taller bar shows the bands: lightened at the long edges, full colour in the middle.
    XP_ProgressBar& tall = host.bar(450, 20);
    tall.setColor(kRed);
    tall.setValue(100);
    const QImage image = pixels(tall);
    const uint32_t light = XP_ProgressBar::LightenColor(kRed, 150);
    EXPECT_EQ(at(image, 5, 3), light);
    for (int row = 8; row <= 12; ++row) EXPECT_EQ(at(image, 5, row), kRed) << row;
    EXPECT_GT(qGreen(image.pixel(5, 17)), qGreen(image.pixel(5, 14)));
}

TEST(ProgressBar, OutOfRangeValuesEmptyRangeAndOverflowDrawSafely) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(450, 10);
    bar.setValue(100);
    const QImage full = pixels(bar);
    bar.setValue(0);
    const QImage empty = pixels(bar);
    bar.setValue(150);
    EXPECT_EQ(bar.Value(), 150);
    EXPECT_EQ(pixels(bar), full);
    bar.setValue(-5);
    EXPECT_EQ(bar.Value(), -5);
    EXPECT_EQ(pixels(bar), empty);

    bar.setMin(100);
    bar.setMax(100);
    bar.setValue(100);
    EXPECT_EQ(pixels(bar), empty);
    bar.setShowText(true);
    EXPECT_EQ(bar.PercentText(), "0 %");
    bar.setShowText(false);

    // Max - Min, then Value - Min beyond 32 bits: only the white background is left.
    QImage white(450, 10, QImage::Format_RGB32);
    white.fill(Qt::white);
    bar.setMin(-1);
    bar.setMax(INT_MAX);
    bar.setValue(5);
    EXPECT_EQ(pixels(bar), white);
    bar.setMin(1);
    bar.setMax(100);
    bar.setValue(INT_MIN);
    bar.repaint();
    EXPECT_EQ(pixels(bar), white);
}

TEST(ProgressBar, PropertyWritesRedrawOnlyForValueAndShowText) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(450, 10);
    bar.setValue(50);
    const QImage atFifty = pixels(bar);
    EXPECT_EQ(rowPattern(atFifty, 5), expectedBlocks(450, 220));

    bar.setMax(200);
    bar.setColor(kRed);
    EXPECT_EQ(pixels(bar), atFifty);
    EXPECT_EQ(bar.Color(), kRed);
    bar.setColor(XP_ProgressBar::kSystemHighlight);
    EXPECT_EQ(bar.Color(), paletteColour(QPalette::Highlight));

    bar.setValue(50);  // a quarter of 0..200
    EXPECT_EQ(rowPattern(pixels(bar), 5), expectedBlocks(450, 110));
}

TEST(ProgressBar, MarqueeShowsThreeBlocksPalestFirstAtTheValue) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(450, 10);
    bar.setColor(kRed);
    bar.setScrolling(2);
    bar.setValue(50);
    const QImage image = pixels(bar);
    std::string expected(446, '.');
    for (int left : {220, 232, 244}) expected.replace(left - 2, 10, 10, '#');
    for (int row = 3; row <= 7; ++row) EXPECT_EQ(rowPattern(image, row), expected) << row;

    const auto lightness = [&](int x) {
        const QRgb c = image.pixel(x, 5);
        return qRed(c) + qGreen(c) + qBlue(c);
    };
    EXPECT_GT(lightness(225), lightness(237));
    EXPECT_GT(lightness(237), lightness(249));

    bar.setShowText(true);
    EXPECT_EQ(bar.PercentText(), "Searching..");
    EXPECT_TRUE(hasDarkPixel(pixels(bar), QRect(150, 3, 150, 5)));
}

TEST(ProgressBar, PercentTextIsCentredOverTheBarAndUnderTheFrame) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(450, 10);
    bar.setColor(kRed);
    bar.setValue(45);
    const QImage withoutText = pixels(bar);
    EXPECT_FALSE(hasDarkPixel(withoutText, QRect(2, 3, 446, 5)));

    bar.setShowText(true);
    EXPECT_EQ(bar.PercentText(), "45 %");
    const QImage withText = pixels(bar);
    expectFrame(withText);
    EXPECT_TRUE(hasDarkPixel(withText, QRect(205, 3, 40, 5)));
    EXPECT_FALSE(hasDarkPixel(withText, QRect(2, 3, 150, 5)));
    EXPECT_FALSE(hasDarkPixel(withText, QRect(300, 3, 146, 5)));

    // Other ranges show the percentage of the range.
    bar.setMin(100);
    bar.setMax(300);
    bar.setValue(150);
    EXPECT_EQ(bar.PercentText(), "25 %");
}

TEST(ProgressBar, VerticalBarFillsFromTheBottomInBlocks) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(20, 100);
    bar.setColor(kRed);
    bar.setOrientation(1);
    const auto column = [&](int x) {
        const QImage image = pixels(bar);
        std::string pattern;
        for (int y = 3; y < 97; ++y) pattern += at(image, x, y) == kWhite ? '.' : '#';
        return pattern;
    };
    // Rows 3..96; filled from top down to the bottom, 2-row gaps above each 10-row step.
    const auto expected = [](int top) {
        std::string pattern;
        for (int y = 3; y < 97; ++y) pattern += (y >= top && y % 10 < 8) ? '#' : '.';
        return pattern;
    };
    bar.setValue(0);
    EXPECT_EQ(column(10), expected(100));
    bar.setValue(50);
    EXPECT_EQ(column(10), expected(50));
    // Side bands fade from the lightened colour at the long edges to the full colour inside.
    const QImage half = pixels(bar);
    EXPECT_EQ(at(half, 2, 55), XP_ProgressBar::LightenColor(kRed, 150));
    EXPECT_EQ(at(half, 10, 55), kRed);
    EXPECT_GT(qGreen(half.pixel(16, 55)), qGreen(half.pixel(13, 55)));
    bar.setValue(100);
    EXPECT_EQ(column(10), expected(0));
    expectFrame(pixels(bar));

    XP_ProgressBar& tall = host.bar(20, 476);
    tall.setColor(kRed);
    tall.setOrientation(1);
    tall.setValue(0);
    const QImage image = pixels(tall);
    for (int y = 3; y < 466; ++y) ASSERT_EQ(at(image, 10, y), kWhite) << y;
    for (int y = 466; y < 474; ++y) EXPECT_EQ(at(image, 10, y), kRed) << y;
}

TEST(ProgressBar, LightenAndSplitColours) {
    EXPECT_EQ(XP_ProgressBar::LightenColor(0x0000FF, 150), 0x9696FFu);
    EXPECT_EQ(XP_ProgressBar::LightenColor(0x000000, 220), 0xDCDCDCu);
    for (uint32_t colour : {0x000000u, 0x123456u, 0xFFFFFFu, 0x80FF01u}) {
        EXPECT_EQ(XP_ProgressBar::LightenColor(colour, 0), colour);
        EXPECT_EQ(XP_ProgressBar::LightenColor(colour, 255), 0xFFFFFFu);
    }
    const clipwren::GradientColor c = XP_ProgressBar::SplitColor16(0x9696FF);
    EXPECT_EQ(c.red, 255 * 256);
    EXPECT_EQ(c.green, 150 * 256);
    EXPECT_EQ(c.blue, 150 * 256);
    EXPECT_EQ(c.alpha, 0);

    EXPECT_EQ(XP_ProgressBar::ResolveColor(0x8000000F), paletteColour(QPalette::Button));
    EXPECT_EQ(XP_ProgressBar::ResolveColor(0x80000005), paletteColour(QPalette::Base));
    EXPECT_EQ(XP_ProgressBar::ResolveColor(0x00C0FFEE), 0x00C0FFEEu);
}

TEST(ProgressBar, BackBufferOnlyGrowsAndCopiesWhole) {
    BarHost host;
    XP_ProgressBar& bar = host.bar(200, 66);
    EXPECT_EQ(bar.BufferSize(), QSize(200, 66));
    bar.resize(450, 10);
    EXPECT_EQ(bar.BufferSize(), QSize(450, 10));
    bar.setValue(100);
    const QImage wide = pixels(bar);
    bar.resize(300, 8);
    EXPECT_EQ(bar.BufferSize(), QSize(450, 10));

    // A pass draws the control's own 300 x 8; the copy of size 0 x 0 takes the whole buffer.
    bar.setValue(0);
    QImage whole(450, 10, QImage::Format_RGB32);
    whole.fill(Qt::magenta);
    bar.pDraw(&whole, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(whole.copy(300, 0, 150, 10), wide.copy(300, 0, 150, 10));
    EXPECT_EQ(at(whole, 299, 4), 0x686868u);
    EXPECT_EQ(at(whole, 150, 4), kWhite);

    bar.setHdc(nullptr);
    EXPECT_NE(bar.hdc(), nullptr);
    EXPECT_NE(bar.hdc(), static_cast<QPaintDevice*>(&bar));
    EXPECT_EQ(bar.BufferSize(), QSize(450, 10));
    bar.resize(300, 20);
    EXPECT_EQ(bar.BufferSize(), QSize(300, 20));
}

TEST(ProgressBar, ZeroSizedControlHasNoBufferAndPaintsStraightOnTheWidget) {
    BarHost host;
    for (QSize size : {QSize(0, 10), QSize(450, 0)}) {
        XP_ProgressBar& bar = host.bar(size.width(), size.height());
        EXPECT_TRUE(bar.BufferSize().isEmpty());
        EXPECT_EQ(bar.hdc(), static_cast<QPaintDevice*>(&bar));
        bar.setShowText(true);
        bar.setValue(50);
        bar.repaint();
        EXPECT_EQ(bar.Value(), 50);
    }
}
