#include "components/soundeditor/Selection.h"

#include <algorithm>
#include <cmath>

namespace clipwren::soundeditor {

namespace {
// A position at `from` samples per second as samples at `to`, rounded to the nearest.
int64_t rescaled(int64_t position, int from, int to) {
    return from == to ? position : std::llround(double(position) * to / double(from));
}
}  // namespace

Selection Selection::cropped(const SampleRange& range, int64_t workingLength) const {
    // A whole sound takes the range's rate; a piece counts in the rate it was cut at.
    const bool whole = begin == 0 && !end && !empty;
    const int unit = whole ? range.rate : rate;
    const int64_t pieceBegin = rescaled(begin, rate, unit);
    const int64_t pieceLength = lengthAt(unit, workingLength);
    const int64_t from = std::max<int64_t>(rescaled(range.begin, range.rate, unit), 0);
    const int64_t to = range.end ? rescaled(*range.end, range.rate, unit) : pieceLength;
    Selection result;
    result.rate = unit;
    result.begin = pieceBegin + from;
    result.end = to >= pieceLength ? (end ? std::optional<int64_t>(rescaled(*end, rate, unit)) : std::nullopt)
                                   : std::optional<int64_t>(pieceBegin + to);
    result.empty = empty || to <= from || from >= pieceLength;
    return result;
}

int64_t Selection::lengthAt(int unit, int64_t workingLength) const {
    return (end ? rescaled(*end, rate, unit) : rescaled(workingLength, kWorkingRate, unit)) - rescaled(begin, rate, unit);
}

std::pair<int64_t, int64_t> Selection::frames(int outputRate, int64_t length) const {
    const int64_t beginFrame = std::min(rescaled(begin, rate, outputRate), length);
    const int64_t endFrame = end ? std::min(rescaled(*end, rate, outputRate), length) : length;
    return {beginFrame, endFrame};
}

}  // namespace clipwren::soundeditor
