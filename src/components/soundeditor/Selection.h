#pragma once
// The part of a loaded sound the editor holds, in samples of the rate its range was given
// at; frames are worked out only at export, at the export's own rate. Plain arithmetic,
// free of the audio libraries, so that an MP3 copy made without them cuts exactly where
// the editor would.
#include <cstdint>
#include <optional>
#include <utility>

namespace clipwren::soundeditor {

// The editor loads every sound for 44100 Hz stereo output (what the program exports):
// its length is that output's.
constexpr int kWorkingRate = 44100;
constexpr int kWorkingChannels = 2;

// A range of a sound in samples at `rate` per second: milliseconds are samples at 1000
// per second, a cue sheet's frames samples at 75, so a range keeps the exactness it was
// given with at any rate it is cut at.
struct SampleRange {
    int64_t begin = 0;
    std::optional<int64_t> end;  // none: up to the end of the sound
    int rate = 1000;

    static SampleRange fromMs(int64_t beginMs, int64_t endMs) { return {beginMs, endMs, 1000}; }
};

struct Selection {
    int64_t begin = 0;
    std::optional<int64_t> end;  // none: up to the end of the sound
    int rate = 1000;
    bool empty = false;

    // Keeps `range` of the piece held so far, counted from its start, of a sound
    // workingLength frames long at the working rate: an end at or past the piece's end
    // keeps it to its end.
    Selection cropped(const SampleRange& range, int64_t workingLength) const;
    // The piece's length at `rate`, of a sound workingLength frames long at the working rate.
    int64_t lengthAt(int rate, int64_t workingLength) const;
    // [begin, end) in frames at `outputRate`, within a sound `length` frames long at that rate.
    std::pair<int64_t, int64_t> frames(int outputRate, int64_t length) const;
};

}  // namespace clipwren::soundeditor
