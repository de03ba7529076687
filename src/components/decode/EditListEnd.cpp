#include "components/decode/EditListEnd.h"

#include "components/decode/InputFile.h"
#include "components/decode/StreamTimeline.h"

namespace clipwren::decode {

std::optional<int64_t> editListEnd(const InputFile& input, const StreamTimeline& timeline) {
    const AVStream* stream = input.stream();
    if (!input.containerName().startsWith(QLatin1String("mov,mp4")) || stream->duration == AV_NOPTS_VALUE ||
        timeline.coarseTimestamps())
        return std::nullopt;
    // The demuxer gives the edited track's duration, starting at its start time.
    const int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    return timeline.framesUntil(start + stream->duration);
}

}  // namespace clipwren::decode
