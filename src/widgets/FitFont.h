#pragma once
// Fitting text into the fixed sizes of the window's layout, whatever face the
// system substitutes for the one the layout was made for.
#include <QFont>
#include <QString>

namespace clipwren {

// font itself when text fits in width pixels; else the font narrowed step by step
// (to 85 % at most), then made smaller in quarter points (down to 5 points) until it fits.
QFont FitFontToWidth(const QFont& font, const QString& text, int width);

}  // namespace clipwren
