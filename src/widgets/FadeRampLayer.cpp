#include "widgets/FadeRampLayer.h"

#include "widgets/TimeFormatSlider.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace clipwren {

namespace {
// Points along a ramp: smooth at the slider's few hundred pixels.
constexpr int kRampSteps = 32;
}  // namespace

FadeRampLayer::FadeRampLayer(TimeFormatSlider& slider, std::function<double(double)> curve)
    : QWidget(&slider), slider_(slider), curve_(std::move(curve)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(slider.rect());
    slider.installEventFilter(this);
}

void FadeRampLayer::setFades(int fadeIn, int fadeOut) {
    fadeIn_ = std::max(fadeIn, 0);
    fadeOut_ = std::max(fadeOut, 0);
    update();
}

bool FadeRampLayer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &slider_ && event->type() == QEvent::Resize) setGeometry(slider_.rect());
    return QWidget::eventFilter(watched, event);
}

void FadeRampLayer::paintEvent(QPaintEvent*) {
    const auto begin = slider_.mark(TimeFormatSlider::Mark::Begin);
    const auto end = slider_.mark(TimeFormatSlider::Mark::End);
    if (!slider_.showsWaveform() || !begin || !end || *end <= *begin) return;
    // A fade is at most half the piece.
    const double half = (*end - *begin) / 2.0;
    const double top = 1;
    const double bottom = height() - 2;

    QPainterPath ramps;
    // From `from` on for `length` units, rising or falling, placed as the slider's view places values.
    const auto ramp = [&](double from, double length, bool rising) {
        for (int i = 0; i <= kRampSteps; ++i) {
            const double share = double(i) / kRampSteps;
            const double level = curve_(rising ? share : 1.0 - share);
            const QPointF point(slider_.xOf(int(std::lround(from + share * length))), bottom - level * (bottom - top));
            i == 0 ? ramps.moveTo(point) : ramps.lineTo(point);
        }
    };
    if (fadeIn_ > 0) ramp(*begin, std::min<double>(fadeIn_, half), true);
    if (fadeOut_ > 0) {
        const double length = std::min<double>(fadeOut_, half);
        ramp(*end - length, length, false);
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
    p.drawPath(ramps);
}

}  // namespace clipwren
