#include "core/modTimeText.h"

#include <cstdlib>
#include <limits>

namespace clipwren {

namespace {

QString zeroFilled(int32_t part, int width) {
    const QString digits = QStringLiteral("%1").arg(std::abs(part), width, 10, QLatin1Char('0'));
    return part < 0 ? QLatin1Char('-') + digits : digits;
}

// A field is a whole number: an optional minus sign, then digits only.
std::optional<int64_t> fieldValue(QStringView field) {
    const bool negative = field.startsWith(QLatin1Char('-'));
    const QStringView digits = negative ? field.mid(1) : field;
    // Ten digits and more cannot make a 32-bit count of milliseconds.
    if (digits.isEmpty() || digits.size() > 9) return std::nullopt;
    int64_t value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    return negative ? -value : value;
}

}  // namespace

QString FormatTimeText(int32_t milliseconds) {
    // Division and remainder truncate toward zero, so every part carries the sign of the count.
    const int32_t minutes = milliseconds / 60000;
    const int32_t withinMinute = milliseconds % 60000;
    return zeroFilled(minutes, 2) + QLatin1Char(':') + zeroFilled(withinMinute / 1000, 2) + QLatin1Char(':') +
           zeroFilled(withinMinute % 1000, 3);
}

std::optional<int32_t> ParseTimeText(const QString& text) {
    // Counted from the end, so the longer minutes FormatTimeText writes for sounds of
    // 100 minutes and more read back too; a nine-character text has two minute digits.
    const qsizetype size = text.size();
    if (size < 9) return std::nullopt;
    const QStringView view(text);
    const auto minutes = fieldValue(view.first(size - 7));
    const auto seconds = fieldValue(view.mid(size - 6, 2));
    const auto millis = fieldValue(view.last(3));
    if (!minutes || !seconds || !millis) return std::nullopt;
    const int64_t total = *minutes * 60000 + *seconds * 1000 + *millis;
    if (total < std::numeric_limits<int32_t>::min() || total > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return int32_t(total);
}

}  // namespace clipwren
