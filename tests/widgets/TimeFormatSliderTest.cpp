#include <gtest/gtest.h>

#include <QApplication>
#include <QStyle>
#include <QTest>
#include <QToolTip>
#include <cmath>

#include "widgets/TimeFormatSlider.h"

using clipwren::TimeFormatSlider;

namespace {

// Records the order of the three notifications.
struct EventLog {
    QStringList entries;
    explicit EventLog(TimeFormatSlider& slider) {
        QObject::connect(&slider, &TimeFormatSlider::userStartsMoving, [this] { entries << "start"; });
        QObject::connect(&slider, &TimeFormatSlider::userEndsMoving, [this] { entries << "end"; });
        QObject::connect(&slider, &TimeFormatSlider::valueChanged,
                         [this](int v) { entries << QStringLiteral("value %1").arg(v); });
    }
};

}  // namespace

TEST(TimeFormatSlider, ProgramWritesRaiseValueChangedOnly) {
    TimeFormatSlider slider(Qt::Horizontal);
    slider.setRange(0, 90000);
    EventLog log(slider);
    slider.setValue(1234);
    slider.setMaximum(123456);
    slider.setValue(123456);
    EXPECT_EQ(log.entries, QStringList({"value 1234", "value 123456"}));
}

TEST(TimeFormatSlider, MouseOnTheGrooveMovesTheThumbBetweenStartAndEnd) {
    TimeFormatSlider slider(Qt::Horizontal);
    slider.setGeometry(0, 0, 454, 24);
    slider.setRange(0, 100000);
    slider.show();
    EventLog log(slider);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(slider.width() - 3, 12));
    ASSERT_FALSE(log.entries.isEmpty());
    EXPECT_EQ(log.entries.first(), "start");
    EXPECT_FALSE(log.entries.contains("end"));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(slider.width() - 3, 12));
    EXPECT_EQ(log.entries.last(), "end");
    // Released at the right end, the value is the maximum.
    EXPECT_EQ(slider.value(), 100000);
    EXPECT_EQ(log.entries.count("start"), 1);
    EXPECT_EQ(log.entries.count("end"), 1);
}

TEST(TimeFormatSlider, ArrowKeyIsOneWholeUserMove) {
    TimeFormatSlider slider(Qt::Vertical);
    slider.setRange(-60, 60);
    slider.show();
    slider.setFocus();
    EventLog log(slider);
    QTest::keyClick(&slider, Qt::Key_Up);
    EXPECT_EQ(log.entries, QStringList({"start", "value 1", "end"}));
    log.entries.clear();
    QTest::keyClick(&slider, Qt::Key_A);
    EXPECT_TRUE(log.entries.isEmpty());
}

TEST(TimeFormatSlider, TooltipShowsTheValueThroughTheFormatter) {
    TimeFormatSlider slider(Qt::Horizontal);
    slider.setRange(0, 200000);
    EXPECT_TRUE(slider.toolTip().isEmpty());
    slider.setTooltipFormatter([](int v) { return QStringLiteral("t=%1").arg(v); });
    EXPECT_TRUE(slider.tooltipFormatsTime());
    EXPECT_EQ(slider.toolTip(), "t=0");
    slider.setValue(83456);
    EXPECT_EQ(slider.toolTip(), "t=83456");
}

namespace {

// A position slider of the window's size over 0..1000 ms showing a sound: silent in
// the first half, loud in the second, with marks at 100 and 400 ms.
struct SoundSlider {
    TimeFormatSlider slider{Qt::Horizontal};
    SoundSlider() {
        slider.setGeometry(0, 0, 454, 24);
        slider.setRange(0, 1000);
        const int columns = slider.waveformColumns();
        std::vector<float> low(size_t(columns), 0.0f), high(size_t(columns), 0.0f);
        for (int c = columns / 2; c < columns; ++c) {
            low[size_t(c)] = -0.9f;
            high[size_t(c)] = 0.9f;
        }
        slider.setWaveform(low, high);
        slider.setMarks(100, 400);
        // A flag's staff stands at its mark, and the track is linear: found from the two flags.
        perMs = (slider.flagRect(TimeFormatSlider::Mark::End).right() -
                 slider.flagRect(TimeFormatSlider::Mark::Begin).left()) / 300.0;
        zeroX = slider.flagRect(TimeFormatSlider::Mark::Begin).left() - 100 * perMs;
    }
    QPoint at(int value, int y) const { return QPoint(int(std::lround(zeroX + value * perMs)), y); }
    double perMs = 0;
    double zeroX = 0;
};

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(53, 53, 53));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(35, 35, 35));
    p.setColor(QPalette::Text, QColor(230, 230, 230));
    p.setColor(QPalette::Mid, QColor(80, 80, 80));
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
    return p;
}

int lightness(QRgb c) { return QColor(c).lightness(); }

}  // namespace

TEST(TimeFormatSlider, SoundStaysReadableInLightAndDarkPalettesAndDisabled) {
    const struct {
        const char* name;
        QPalette palette;
        bool enabled;
        int contrast;  // the least lightness difference of the envelope from the groove
    } cases[] = {
        {"light", QApplication::style()->standardPalette(), true, 100},
        {"dark", darkPalette(), true, 100},
        {"light disabled", QApplication::style()->standardPalette(), false, 40},
        {"dark disabled", darkPalette(), false, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SoundSlider s;
        s.slider.setPalette(c.palette);
        s.slider.setEnabled(c.enabled);
        const QImage image = s.slider.grab().toImage();
        const QRgb groove = image.pixel(s.at(50, 5));
        // The loud half stands out from the groove, the silent half does not reach that row.
        EXPECT_GE(std::abs(lightness(image.pixel(s.at(800, 5))) - lightness(groove)), c.contrast);
        EXPECT_EQ(image.pixel(s.at(200, 5)) == groove, false) << "the marked range is shaded";
        EXPECT_EQ(image.pixel(s.at(700, 5)) == image.pixel(s.at(800, 5)), true);
        // Flags at both marks, told apart from the groove.
        for (const auto mark : {TimeFormatSlider::Mark::Begin, TimeFormatSlider::Mark::End}) {
            const QPoint staff = s.slider.flagRect(mark).topLeft() +
                                 QPoint(mark == TimeFormatSlider::Mark::Begin ? 0 : 7, 2);
            EXPECT_GE(std::abs(lightness(image.pixel(staff)) - lightness(groove)), c.contrast / 2);
        }
    }

    // Without a sound the slider looks as a plain one does.
    SoundSlider s;
    s.slider.clearWaveform();
    TimeFormatSlider plain(Qt::Horizontal);
    plain.setGeometry(0, 0, 454, 24);
    plain.setRange(0, 1000);
    EXPECT_EQ(s.slider.grab().toImage(), plain.grab().toImage());
}

TEST(TimeFormatSlider, DraggingAFlagMovesItsMarkAndLeavesThePosition) {
    SoundSlider s;
    s.slider.show();
    EventLog log(s.slider);
    std::vector<std::pair<TimeFormatSlider::Mark, int>> moves;
    QObject::connect(&s.slider, &TimeFormatSlider::markMoved,
                     [&](TimeFormatSlider::Mark m, int v) { moves.emplace_back(m, v); });

    // The begin flag taken by its pennant, the end flag by its staff, low down and beside it.
    for (const auto& [mark, to] : {std::pair{TimeFormatSlider::Mark::Begin, 250},
                                   std::pair{TimeFormatSlider::Mark::End, 900}}) {
        const QRect flag = s.slider.flagRect(mark);
        const QPoint grab = mark == TimeFormatSlider::Mark::Begin ? flag.center() : QPoint(flag.right() + 2, 18);
        const QPoint moved = grab + QPoint(s.at(to, 0).x() - s.at(*s.slider.mark(mark), 0).x(), 0);
        QTest::mousePress(&s.slider, Qt::LeftButton, {}, grab);
        QTest::mouseMove(&s.slider, (grab + moved) / 2);
        QTest::mouseMove(&s.slider, moved);
        QTest::mouseRelease(&s.slider, Qt::LeftButton, {}, moved);
        ASSERT_GE(moves.size(), 2u) << "the mark follows while it is dragged";
        EXPECT_EQ(moves.back().first, mark);
        EXPECT_NEAR(moves.back().second, to, 4);
        EXPECT_EQ(s.slider.mark(mark), moves.back().second);
        moves.clear();
    }
    EXPECT_EQ(s.slider.value(), 0);
    EXPECT_TRUE(log.entries.isEmpty());

    // Elsewhere on the groove a click moves the position, as it always did.
    QTest::mouseClick(&s.slider, Qt::LeftButton, {}, s.at(600, 18));
    EXPECT_NEAR(s.slider.value(), 600, 4);
    EXPECT_TRUE(moves.empty());
    EXPECT_EQ(log.entries.first(), "start");
    EXPECT_EQ(log.entries.last(), "end");
}

// A four-minute sound in the window's slider, zoomed around an anchor: the anchor keeps
// its pixel, a click at any pixel of the view puts the value where that pixel lies, the
// tooltip tells the time under the pointer, and the deepest zoom is one unit per pixel.
TEST(TimeFormatSlider, ZoomMapsPixelsToValuesAroundTheAnchorDownToOneUnitPerPixel) {
    TimeFormatSlider slider(Qt::Horizontal);
    slider.setGeometry(0, 0, 454, 24);
    slider.setRange(0, 240000);
    slider.setTooltipFormatter([](int v) { return QString::number(v); });
    slider.setWaveform({}, {});
    slider.show();
    const double wholePerPixel = 240000.0 / (slider.xOf(240000) - slider.xOf(0));
    const struct { double factor; int anchor; double perPixel; } zooms[] = {
        {1, 0, wholePerPixel},
        {4, 60000, wholePerPixel / 4},
        {128, 63250, wholePerPixel / 128},
        {1e6, 63250, 1},  // no deeper than one unit per pixel
        {1e6, 239990, 1},  // nor past the end
    };
    for (const auto& z : zooms) {
        SCOPED_TRACE(z.factor);
        slider.showWhole();
        slider.setValue(0);
        const int anchorX = slider.xOf(z.anchor);
        slider.zoomBy(z.factor, z.anchor);
        EXPECT_EQ(slider.isZoomed(), z.factor > 1);
        EXPECT_EQ(slider.value(), 0) << "zooming leaves the value alone";
        const TimeFormatSlider::View view = slider.view();
        const int left = slider.xOf(int(std::ceil(view.from))), right = slider.xOf(int(view.to));
        EXPECT_NEAR((view.to - view.from) / (right - left), z.perPixel, z.perPixel * 0.01);
        if (z.anchor < 239000) EXPECT_NEAR(slider.xOf(z.anchor), anchorX, 1);
        for (const int x : {left, (left + right) / 2, (left + right) / 2 + 1, right}) {
            const double expected = view.from + (x - left) * z.perPixel;
            QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(x, 10));
            EXPECT_NEAR(slider.value(), expected, z.perPixel / 2 + 1) << x;
            QHelpEvent hover(QEvent::ToolTip, QPoint(x, 10), slider.mapToGlobal(QPoint(x, 10)));
            QApplication::sendEvent(&slider, &hover);
            EXPECT_EQ(QToolTip::text(), QString::number(slider.value())) << x;
        }
    }
    // 0's work: the whole sound again.
    slider.showWhole();
    EXPECT_FALSE(slider.isZoomed());
    EXPECT_EQ(slider.view().to, 240000);
}
