#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>

#include "components/errors/modSoundErrDesc.h"
#include "components/player/LevelMeterSet.h"
#include "components/player/LevelMeterWidget.h"

using namespace clipwren;

namespace {

MeterLook smoothLook(int32_t decayMs) {
    MeterLook look = LevelMeterWidget::defaultLook();
    look.Style = 1;
    look.PeakHold = 0;
    look.LowColor = 0x00F0C108;
    look.HighColor = 0x000E3EE4;
    look.BackColor = 0x00FFFFFF;
    look.DecayMs = decayMs;
    return look;
}

}  // namespace

// The host as drawn, its meters in it, on black: the meters' empty colour is white.
QImage drawnHost(QWidget& host) {
    host.setAutoFillBackground(true);
    host.setPalette(QPalette(Qt::black));
    return host.grab().toImage();
}

TEST(LevelMeterSet, DrawsEachMeterOverItsRectangleOfTheHost) {
    QWidget host;
    host.resize(603, 329);
    LevelMeterSet meters;
    const int32_t left = meters.CreateMeter(&host, 36, 272, 223, 10);
    const int32_t right = meters.CreateMeter(&host, 264, 272, 223, 10);
    ASSERT_GT(left, 0);
    ASSERT_GT(right, 0);
    EXPECT_NE(left, right);
    // Full scale on the left meter, nothing on the right one, which shows only its empty colour.
    const MeterLook look = smoothLook(0);
    for (int32_t id : {left, right}) ASSERT_EQ(meters.SetMeterLook(id, &look), err::Ok);
    meters.ShowLevel(left, 32767);
    const QImage image = drawnHost(host);
    const QColor low(8, 193, 240);  // smoothLook's LowColor
    EXPECT_EQ(image.pixelColor(36, 272), low);
    EXPECT_NE(image.pixelColor(258, 281), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(264, 272), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(486, 281), QColor(Qt::white));
    // Nothing outside the rectangles.
    for (const QPoint outside : {QPoint(35, 272), QPoint(36, 282), QPoint(261, 276), QPoint(487, 276)})
        EXPECT_EQ(image.pixelColor(outside), QColor(Qt::black)) << outside.x() << "," << outside.y();
}

TEST(LevelMeterSet, RefusesBadArgumentsAndUnknownIds) {
    QWidget host;
    LevelMeterSet meters;
    MeterLook look{};
    EXPECT_LT(meters.CreateMeter(nullptr, 0, 0, 10, 10), 0);
    EXPECT_LT(meters.CreateMeter(&host, 0, 0, 0, 10), 0);
    EXPECT_EQ(meters.SetMeterRange(99, 0, 10), err::ParameterOutOfRange);
    EXPECT_EQ(meters.GetMeterLook(99, &look), err::ParameterOutOfRange);
    EXPECT_EQ(meters.SetMeterLook(99, &look), err::ParameterOutOfRange);
    EXPECT_EQ(meters.ShowLevel(99, 5), err::ParameterOutOfRange);
    const int32_t id = meters.CreateMeter(&host, 0, 0, 10, 10);
    EXPECT_EQ(meters.SetMeterRange(id, 10, 10), err::ParameterOutOfRange);
    EXPECT_EQ(meters.GetMeterLook(id, nullptr), err::ParameterOutOfRange);
}

TEST(LevelMeterSet, LevelsAreClampedToTheRange) {
    QWidget host;
    LevelMeterSet meters;
    const int32_t id = meters.CreateMeter(&host, 0, 0, 100, 10);
    meters.SetMeterRange(id, 0, 32767);
    const MeterLook look = smoothLook(0);
    meters.SetMeterLook(id, &look);
    // Beyond the top the bar is full to its last pixel; below the bottom it is empty.
    meters.ShowLevel(id, 40000);
    EXPECT_NE(drawnHost(host).pixelColor(99, 5), QColor(Qt::white));
    meters.ShowLevel(id, -5);
    EXPECT_EQ(drawnHost(host).pixelColor(0, 5), QColor(Qt::white));
}

TEST(LevelMeterWidget, DrawsTheBarInTheLookColours) {
    QWidget host;
    LevelMeterWidget meter(&host);
    meter.setGeometry(0, 0, 223, 10);
    meter.setRange(0, 32767);
    meter.setLook(smoothLook(0));

    meter.showLevel(32767);
    QImage full = meter.grab().toImage();
    EXPECT_EQ(full.pixelColor(0, 5), QColor(8, 193, 240));
    const QColor tip = full.pixelColor(222, 5);
    EXPECT_NEAR(tip.red(), 228, 3);
    EXPECT_NEAR(tip.green(), 62, 3);
    EXPECT_NEAR(tip.blue(), 14, 3);

    meter.showLevel(32767 / 2);
    QImage half = meter.grab().toImage();
    EXPECT_NE(half.pixelColor(100, 5), QColor(Qt::white));
    EXPECT_EQ(half.pixelColor(122, 5), QColor(Qt::white));
    EXPECT_EQ(half.pixelColor(222, 5), QColor(Qt::white));
}

TEST(LevelMeterWidget, SegmentedStyleLeavesGapsAndPeakHoldMarksThePeak) {
    QWidget host;
    LevelMeterWidget meter(&host);
    meter.setGeometry(0, 0, 100, 8);
    meter.setRange(0, 100);
    MeterLook look = smoothLook(0);
    look.Style = 0;
    look.SegmentGap = 2;
    look.PeakHold = 1;
    look.PeakHoldMs = 60000;
    meter.setLook(look);
    meter.showLevel(50);
    const QImage image = meter.grab().toImage();
    int gaps = 0;
    for (int x = 0; x < 48; ++x)
        if (image.pixelColor(x, 4) == QColor(Qt::white)) ++gaps;
    EXPECT_GT(gaps, 10);
    meter.showLevel(10);
    EXPECT_EQ(meter.peakLevel(), 50);
    const QImage held = meter.grab().toImage();
    EXPECT_NE(held.pixelColor(50, 4), QColor(Qt::white));
    EXPECT_EQ(held.pixelColor(70, 4), QColor(Qt::white));
}

TEST(LevelMeterWidget, FallsBackAtTheDecayRateAfterTheLevelDrops) {
    QWidget host;
    LevelMeterWidget meter(&host);
    meter.setGeometry(0, 0, 100, 8);
    meter.setRange(0, 32767);
    meter.setLook(smoothLook(300));
    meter.showLevel(32767);
    EXPECT_EQ(meter.displayedLevel(), 32767);
    meter.showLevel(0);
    // The bar has only begun to fall, and reaches the level once the decay has run.
    EXPECT_GT(meter.displayedLevel(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(meter.displayedLevel(), 0, 5000);
    // A rise is shown at once.
    meter.showLevel(1000);
    EXPECT_EQ(meter.displayedLevel(), 1000);
}
