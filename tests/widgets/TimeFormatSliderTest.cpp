#include <gtest/gtest.h>

#include <QTest>

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
