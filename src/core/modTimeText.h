#pragma once
// Time text: a millisecond count written as minutes, seconds and milliseconds,
// "mm:ss:mmm". The one form in which the program shows and reads positions.
#include <QString>
#include <cstdint>
#include <optional>

namespace clipwren {

// 83456 -> "01:23:456". Parts are zero-filled to 2, 2 and 3 digits and written in
// full when longer (6000000 -> "100:00:000"); a negative part keeps its sign in
// front of its digits (-1 -> "00:00:-001").
QString FormatTimeText(int32_t milliseconds);

// Reads the nine-character form by fixed positions: minutes from characters 1-2,
// seconds from 4-5, milliseconds from 7-9; characters 3 and 6 are not looked at.
// Longer minutes, as FormatTimeText writes them from 100 minutes on, are read up to
// the seventh character from the end. Empty for any other text (too short, a field
// that is not a number, a count beyond 32 bits).
std::optional<int32_t> ParseTimeText(const QString& text);

}  // namespace clipwren
