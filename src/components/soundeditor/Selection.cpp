#include "components/soundeditor/Selection.h"

#include "components/decode/FrameCount.h"

#include <algorithm>

namespace clipwren::soundeditor {

Selection Selection::cropped(int64_t begin, int64_t end, int64_t soundLengthMs) const {
    const int64_t pieceLengthMs = endMs.value_or(soundLengthMs) - beginMs;
    begin = std::max<int64_t>(begin, 0);
    Selection result;
    result.beginMs = beginMs + begin;
    result.endMs = end >= pieceLengthMs ? endMs : std::optional<int64_t>(beginMs + end);
    result.empty = empty || end <= begin || begin >= pieceLengthMs;
    return result;
}

std::pair<int64_t, int64_t> Selection::frames(int rate, int64_t length) const {
    const int64_t beginFrame = std::min(decode::msToFrames(beginMs, rate), length);
    const int64_t endFrame = endMs ? std::min(decode::msToFrames(*endMs, rate), length) : length;
    return {beginFrame, endFrame};
}

}  // namespace clipwren::soundeditor
