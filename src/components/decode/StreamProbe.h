#pragma once
// Finds where a stream's sound starts and ends, once, when a file is opened. The
// start anchors the timeline; the end is where a continuous decode ends, found by
// decoding only the last seconds where the timestamps allow it.
#include <cstdint>

extern "C" {
#include <libavutil/frame.h>
}

namespace clipwren::decode {

class FrameReader;
class InputFile;
class StreamTimeline;

// Decodes from the beginning up to the first frame with a timestamp and anchors the
// timeline on it; leaves the first decoded frame in firstFrame. Returns
// err::InvalidSoundFile for a stream that yields no sample.
int32_t findOrigin(InputFile& input, StreamTimeline& timeline, AVFrame* firstFrame);

struct ProbedLength {
    int64_t frames = 0;  // source frames a continuous decode yields
    int64_t lastPacketPosition = -1;  // file position of the stream's last packet, when seen
};

class LengthProbe {
public:
    LengthProbe(InputFile& input, StreamTimeline& timeline, FrameReader& reader, int sourceRate,
                int64_t prerollFrames);
    // Returns 0 or err::InvalidSoundFile when not even a decode from the start gives a sample.
    int32_t run(ProbedLength* result);

private:
    bool probeTail(int64_t endTimestamp, ProbedLength* result);
    bool decodeToEndFrom(int64_t seekSourceFrame, ProbedLength* result);
    int64_t scanPacketsEnd();

    InputFile& input_;
    StreamTimeline& timeline_;
    FrameReader& reader_;
    int sourceRate_;
    int64_t prerollFrames_;
};

}  // namespace clipwren::decode
