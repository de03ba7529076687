#pragma once
// FFmpeg honours the start of an MP4 edit list (it drops the encoder's delay) but
// decodes the last packet whole, past where the edit list ends: the encoder's padding
// would be heard. The sound ends where the edit list does.
#include <cstdint>
#include <optional>

namespace clipwren::decode {

class InputFile;
class StreamTimeline;

// The end of the track's edit list in source frames, for the MP4 family; nullopt for
// other containers and for time scales too coarse to say a sample.
std::optional<int64_t> editListEnd(const InputFile& input, const StreamTimeline& timeline);

}  // namespace clipwren::decode
