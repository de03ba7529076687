#include "components/player/LevelMeterWidget.h"

#include <QPainter>
#include <algorithm>

namespace clipwren {

namespace {
constexpr int kAnimationMs = 30;
constexpr int kSegmentWidth = 3;
}  // namespace

QColor colorFromBgr(uint32_t bgr) { return QColor(bgr & 0xff, (bgr >> 8) & 0xff, (bgr >> 16) & 0xff); }

MeterLook LevelMeterWidget::defaultLook() {
    MeterLook look{};
    look.Style = 0;           // segmented
    look.PeakHold = 1;
    look.SegmentGap = 1;
    look.PeakHoldMs = 1000;
    look.LowColor = 0x0000C000;   // green
    look.HighColor = 0x000000FF;  // red
    look.BackColor = 0x00000000;  // black
    look.DecayMs = 500;
    return look;
}

LevelMeterWidget::LevelMeterWidget(QWidget* host) : QWidget(host), look_(defaultLook()) {
    // The meter only draws; clicks reach the window under it.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    animation_.setInterval(kAnimationMs);
    connect(&animation_, &QTimer::timeout, this, &LevelMeterWidget::tick);
}

void LevelMeterWidget::setRange(int32_t minimum, int32_t maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    level_ = fallFrom_ = peak_ = minimum;
    update();
}

void LevelMeterWidget::setLook(const MeterLook& look) {
    look_ = look;
    update();
}

int32_t LevelMeterWidget::displayedLevel() const {
    if (fallFrom_ <= level_ || look_.DecayMs <= 0 || !fallClock_.isValid()) return level_;
    const double fullScale = double(maximum_) - minimum_;
    const double fallen = fullScale * double(fallClock_.elapsed()) / look_.DecayMs;
    return std::max<int32_t>(level_, int32_t(fallFrom_ - fallen));
}

int32_t LevelMeterWidget::peakLevel() const {
    if (!look_.PeakHold || !peakClock_.isValid()) return minimum_;
    return peakClock_.elapsed() <= look_.PeakHoldMs ? peak_ : std::max(displayedLevel(), minimum_);
}

void LevelMeterWidget::showLevel(int32_t level) {
    const int32_t clamped = std::clamp(level, std::min(minimum_, maximum_), std::max(minimum_, maximum_));
    const int32_t shown = displayedLevel();
    if (clamped < shown) {
        // Start the fall from where the bar stands now.
        fallFrom_ = shown;
        fallClock_.start();
        animation_.start();
    } else {
        fallFrom_ = clamped;
        fallClock_.invalidate();
    }
    if (clamped >= peak_ || !peakClock_.isValid() || peakClock_.elapsed() > look_.PeakHoldMs) {
        peak_ = clamped;
        peakClock_.start();
    }
    level_ = clamped;
    update();
}

void LevelMeterWidget::tick() {
    if (displayedLevel() <= level_ && (!look_.PeakHold || peakLevel() <= level_)) animation_.stop();
    update();
}

double LevelMeterWidget::fraction(int32_t level) const {
    if (maximum_ == minimum_) return 0;
    return std::clamp((double(level) - minimum_) / (double(maximum_) - minimum_), 0.0, 1.0);
}

void LevelMeterWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), colorFromBgr(look_.BackColor));
    const int filled = int(width() * fraction(displayedLevel()) + 0.5);
    if (filled > 0) {
        // The colour runs from low to high across the whole width, so a loud bar turns hot at its tip.
        QLinearGradient gradient(0, 0, width(), 0);
        gradient.setColorAt(0, colorFromBgr(look_.LowColor));
        gradient.setColorAt(1, colorFromBgr(look_.HighColor));
        if (look_.Style == 1 || look_.SegmentGap <= 0) {
            p.fillRect(QRect(0, 0, filled, height()), gradient);
        } else {
            const int step = kSegmentWidth + look_.SegmentGap;
            for (int x = 0; x < filled; x += step)
                p.fillRect(QRect(x, 0, std::min(kSegmentWidth, filled - x), height()), gradient);
        }
    }
    if (look_.PeakHold) {
        const int32_t peak = peakLevel();
        if (peak > minimum_) {
            const int x = std::min(width() - 2, int(width() * fraction(peak)));
            p.fillRect(QRect(x, 0, 2, height()), colorFromBgr(look_.HighColor));
        }
    }
}

}  // namespace clipwren
