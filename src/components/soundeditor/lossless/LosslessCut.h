#pragma once
// When a cut can keep the source's own encoding, and the cut itself: an MP3 cut to MP3,
// or AAC in an MP4 file cut to an MP4/M4A/M4R, whose output settings match the source
// (sample rate, channels, and for a constant-rate MP3 the bit rate) is copied instead of
// decoded and encoded again: no generation is lost, and it takes a fraction of the time.
#include "components/decode/AudioDecoder.h"
#include "components/soundeditor/FormatTable.h"
#include "components/soundeditor/PendingOutputFile.h"
#include "components/soundeditor/SourceTags.h"
#include "components/soundeditor/lossless/StreamCopy.h"

#include <QString>
#include <cstdint>

namespace clipwren::soundeditor {

struct LosslessCutRequest {
    QString source;
    decode::SourceInfo sourceInfo;
    int64_t begin = 0;  // decoded samples of the source, at its own rate
    int64_t end = 0;
    Encoding encoding;  // the output's encoding
    int sampleRate = 0;  // the output's settings
    int channels = 0;
    // The output's settings are ignored: the source's encoding is kept or the cut fails.
    bool keepSourceEncoding = false;
    SourceTags tags;  // for outputs whose tags are written anew
};

// Copies the piece into output (opened) when the rule above allows it (always tried
// with keepSourceEncoding). NotPossible says why it must be re-encoded instead; what
// was written by then is to be replaced.
CopyResult cutWithoutReencoding(const LosslessCutRequest& request, PendingOutputFile& output, const CopyHooks& hooks);

}  // namespace clipwren::soundeditor
