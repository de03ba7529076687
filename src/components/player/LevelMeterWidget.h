#pragma once
// One level meter: a bar drawn over a rectangle of its host window. It rises at once
// to a higher level and falls back at the look's decay rate.
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "components/player/LevelMeterSet.h"

namespace clipwren {

class LevelMeterWidget : public QWidget {
    Q_OBJECT
public:
    explicit LevelMeterWidget(QWidget* host);

    void setRange(int32_t minimum, int32_t maximum);
    int32_t minimum() const { return minimum_; }
    int32_t maximum() const { return maximum_; }
    const MeterLook& look() const { return look_; }
    void setLook(const MeterLook& look);
    // The newest level, clamped to the range.
    void showLevel(int32_t level);
    int32_t level() const { return level_; }
    // What the bar shows now: the level, or above it while the bar decays.
    int32_t displayedLevel() const;
    // The held peak, or the minimum when peak hold is off or the hold has run out.
    int32_t peakLevel() const;

    // The look a new meter starts with.
    static MeterLook defaultLook();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void tick();
    double fraction(int32_t level) const;

    int32_t minimum_ = 0;
    int32_t maximum_ = 32767;
    int32_t level_ = 0;
    // The bar's height at the moment it started falling, and since when.
    int32_t fallFrom_ = 0;
    QElapsedTimer fallClock_;
    int32_t peak_ = 0;
    QElapsedTimer peakClock_;
    MeterLook look_;
    QTimer animation_;
};

// 0x00BBGGRR as a colour; a system colour code is read by its low three bytes.
QColor colorFromBgr(uint32_t bgr);

}  // namespace clipwren
