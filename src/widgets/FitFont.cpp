#include "widgets/FitFont.h"

#include <QFontMetrics>

namespace clipwren {

QFont FitFontToWidth(const QFont& font, const QString& text, int width) {
    if (QFontMetrics(font).horizontalAdvance(text) <= width) return font;
    QFont fitted = font;
    fitted.setStretch(QFont::SemiCondensed);
    for (qreal points = font.pointSizeF(); points > 5.0; points -= 0.25) {
        fitted.setPointSizeF(points);
        if (QFontMetrics(fitted).horizontalAdvance(text) <= width) break;
    }
    return fitted;
}

}  // namespace clipwren
