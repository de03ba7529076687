#include "widgets/FitFont.h"

#include <QFontMetrics>

namespace clipwren {

namespace {
// Narrower than this a face looks squeezed; smaller points are the better way on from there.
constexpr int kNarrowestStretch = 85;
}  // namespace

QFont FitFontToWidth(const QFont& font, const QString& text, int width) {
    const auto fits = [&](const QFont& candidate) { return QFontMetrics(candidate).horizontalAdvance(text) <= width; };
    if (fits(font)) return font;
    // A caption a few pixels too wide is narrowed only as far as it must be, so it still
    // looks like its neighbours.
    QFont fitted = font;
    for (int stretch = 99; stretch >= kNarrowestStretch; --stretch) {
        fitted.setStretch(stretch);
        if (fits(fitted)) return fitted;
    }
    for (qreal points = font.pointSizeF() - 0.25; points > 5.0; points -= 0.25) {
        fitted.setPointSizeF(points);
        if (fits(fitted)) break;
    }
    return fitted;
}

}  // namespace clipwren
