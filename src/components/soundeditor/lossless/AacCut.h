#pragma once
// The lossless cut of AAC in an MP4 file. The packets that hold the piece are copied as
// they are, with one more before the begin, because an AAC frame's sound is the overlap
// of its own transform with the one before. The output's edit list starts on the begin
// sample and ends on the end sample; the movie's time scale is the sample rate, so the
// edit list is exact to the sample. (FFmpeg honours the start of an edit list but not its
// end: our own decoder ends such a file where its edit list ends.)
#include "components/soundeditor/PendingOutputFile.h"
#include "components/soundeditor/SourceTags.h"
#include "components/soundeditor/lossless/StreamCopy.h"

#include <QString>
#include <cstdint>

namespace clipwren::soundeditor::aac {

// Writes decoded samples [begin, end) of the source's audio track to `output` in the
// given MP4-family muxer ("mp4", "ipod") with the tags. copyNotPossible for anything but
// AAC-LC timed in samples with no gap between its packets (what was written by then is
// to be replaced).
Failure writeAacCut(const QString& source, int64_t begin, int64_t end, const char* muxer, const SourceTags& tags,
                    PendingOutputFile& output, const CopyHooks& hooks);

}  // namespace clipwren::soundeditor::aac
