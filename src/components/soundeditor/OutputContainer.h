#pragma once
// An FFmpeg output container whose bytes go into a pending output file rather than a
// file FFmpeg opens itself: the container can go back over what it wrote only where the
// file can (a temporary file, not a stream), and every write the system refuses leaves
// its reason in the file.
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
}

namespace clipwren::soundeditor {

class PendingOutputFile;

struct OutputContainerFreer {
    void operator()(AVFormatContext* container) const;
};
using OutputContainerPtr = std::unique_ptr<AVFormatContext, OutputContainerFreer>;

// A container of the named muxer writing into output, which must outlive it. Null on
// failure, with *error set to FFmpeg's code.
OutputContainerPtr openOutputContainer(const char* muxer, PendingOutputFile& output, int* error);
// Writes out what the container's buffer still holds. 0, or FFmpeg's code of the first
// write that failed.
int flushOutputContainer(AVFormatContext& container);

}  // namespace clipwren::soundeditor
