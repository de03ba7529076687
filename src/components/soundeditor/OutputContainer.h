#pragma once
// An FFmpeg output container whose bytes go into a pending output file rather than a
// file FFmpeg opens itself: the container can go back over what it wrote only where the
// file can (a temporary file, not a stream), and every write the system refuses leaves
// its reason in the file.
#include <QByteArray>
#include <cstdint>
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

// Changes a container's header on its way into the file, where a muxer cannot write
// all the file should hold. The header is the file's start, as long as its own first
// bytes say; a muxer may write it again later (with the lengths it then knows), and each
// time it is changed alike.
class HeaderRewriter {
public:
    virtual ~HeaderRewriter() = default;
    // The header's length as the muxer writes it, from its first bytes: 0 while they are
    // too few to tell, -1 when they are no header this rewriter knows.
    virtual int64_t headerLength(const QByteArray& start) const = 0;
    // The header as the file is to hold it; longer by the same amount every time.
    virtual QByteArray rewrite(const QByteArray& header) const = 0;
};

// A container of the named muxer writing into output, which must outlive it, as must
// the rewriter when one is given. Null on failure, with *error set to FFmpeg's code.
OutputContainerPtr openOutputContainer(const char* muxer, PendingOutputFile& output, int* error,
                                       const HeaderRewriter* rewriter = nullptr);
// Writes out what the container's buffer still holds. 0, or FFmpeg's code of the first
// write that failed.
int flushOutputContainer(AVFormatContext& container);

}  // namespace clipwren::soundeditor
