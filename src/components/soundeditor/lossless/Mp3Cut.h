#pragma once
// The lossless, sample-exact cut of an MP3. The frames that hold the piece are copied
// byte for byte, from two granules before the begin, because a granule's sound also
// depends on the two before it (the transform overlap and the synthesis filter's
// history). In front of them goes one frame of our own that codes silence and carries,
// at the end of its main data, the bit-reservoir bytes the first copied frame starts
// with. A Xing/Info frame with a LAME extension then tells a gapless decoder to drop
// everything before the begin and after the end: decoded that way the output holds
// exactly the samples of the source's own decode over the range, bit for bit.
#include "components/soundeditor/PendingOutputFile.h"
#include "components/soundeditor/lossless/Mp3Frames.h"
#include "components/soundeditor/lossless/StreamCopy.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace clipwren::soundeditor::mp3 {

struct Mp3CutPlan {
    size_t firstFrame = 0;  // index.frames[firstFrame..lastFrame] are copied
    size_t lastFrame = 0;
    int encoderDelay = 0;
    int padding = 0;
    // Silent frames of our own before the lead frame and after the copied ones, so that
    // even a short piece makes a file FFmpeg's probe recognises as MP3.
    int silentBefore = 0;
    int silentAfter = 0;
    // Added to the copied frames' global gain: steps of kGlobalGainStepDb.
    int gainSteps = 0;
};

// Plans the cut of decoded samples [begin, end). copyNotPossible(why) where the cut
// cannot be exact: the piece lies within one frame (FFmpeg cannot drop samples at both
// ends of one frame), or the first frame needs reservoir bytes from before the stream.
Result<Mp3CutPlan> planMp3Cut(const Mp3Index& index, int64_t begin, int64_t end);

// Writes the planned cut of `source` to `output`, with the source's ID3v2 tags in front
// (less the whole sound's length) and its ID3v1 tag at the end; with `tags`, one ID3v2
// tag with them in place of the source's fields of the same names, and no ID3v1 tag
// (which would name the whole). Ends as StreamCopy.h says.
Failure writeMp3Cut(const QString& source, const Mp3Index& index, const Mp3CutPlan& plan, const TagFields& tags,
                    PendingOutputFile& output, const CopyHooks& hooks);

// Plans and writes the cut of decoded samples [begin, end), with `tags` as writeMp3Cut
// says and its frames' global gain raised by gainSteps; copyNotPossible with the reason
// where the cut cannot be exact or a frame's gain cannot move that far.
Failure copyMp3(const QString& source, const Mp3Index& index, int64_t begin, int64_t end, const TagFields& tags,
                int gainSteps, PendingOutputFile& output, const CopyHooks& hooks);

// copyNotPossible(why) where the source's encoding is not the one output settings ask
// for: another sample rate or channel count, or for a constant-rate source another bit
// rate (a variable-rate source matches any). No failure when they are alike.
Failure settingsDiffer(const Mp3Index& index, int sampleRate, int channels, int64_t bitRate);

// The length of the source's gapless decode (samples per channel, as FFmpeg decodes it),
// from an index that walked the whole file; nullopt where only decoding could tell: a
// header frame whose frame count is not the file's.
std::optional<int64_t> decodedLength(const Mp3Index& index);

}  // namespace clipwren::soundeditor::mp3
