#pragma once
// The part of a loaded sound the editor holds, in milliseconds of the source; frames
// are worked out only at export, at the export's own rate. Plain arithmetic, free of the audio libraries, so that
// clipwren-cut's quick copy cuts exactly where the editor would.
#include <cstdint>
#include <optional>
#include <utility>

namespace clipwren::soundeditor {

// The editor loads every sound for 44100 Hz stereo output (what the program exports):
// its length in milliseconds is that output's.
constexpr int kWorkingRate = 44100;
constexpr int kWorkingChannels = 2;

struct Selection {
    int64_t beginMs = 0;
    std::optional<int64_t> endMs;  // none: up to the end of the sound
    bool empty = false;

    // Keeps beginMs..endMs of the piece held so far, counted from its start, of a sound
    // soundLengthMs long: an end at or past the piece's end keeps it to its end.
    Selection cropped(int64_t beginMs, int64_t endMs, int64_t soundLengthMs) const;
    // [begin, end) in frames at `rate`, within a sound `length` frames long at that rate.
    std::pair<int64_t, int64_t> frames(int rate, int64_t length) const;
};

}  // namespace clipwren::soundeditor
