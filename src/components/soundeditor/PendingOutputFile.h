#pragma once
// Where an export writes, done so that what the user named is never destroyed:
// - a regular file, or a new name, is written under a short temporary name in the same
//   folder and renamed over the final name only once complete, so a failed or cancelled
//   write leaves no partial file and keeps the file that was there;
// - a symbolic link is written through: the file it points to is replaced that way, and
//   the link stays;
// - a FIFO or a device, and standard output ("-"), is written straight into, as a
//   stream, as a shell's redirection would.
// Whether and how to write is decided before anything is written (planOutput); the file
// is opened and written on the editor's worker.
#include "components/errors/Failure.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

namespace clipwren::soundeditor {

// The output path that stands for standard output.
inline const QString kStandardOutputPath = QStringLiteral("-");

struct OutputPlan {
    enum class Kind { ReplacedFile, Stream };
    Kind kind = Kind::ReplacedFile;
    QString shownPath;  // the output as the user knows it, for messages
    // The file the temporary file replaces (links followed), or the FIFO or device to
    // open; empty for standard output.
    QString target;
};

// Decides how outputPath is written. Refuses, before anything is written, the input
// file itself (also through a link or another spelling of its path), a folder, an
// existing file the user may not write, and a stream for an encoding that must go back
// over what it wrote (mustSeekBack). Returns success with *plan filled, or the failure
// with its detail naming the file and the reason.
Failure planOutput(const QString& outputPath, const QString& inputPath, bool mustSeekBack, OutputPlan* plan);

// Blocks SIGPIPE on the calling thread: a write into a pipe whose reader has gone then
// fails with "Broken pipe" instead of ending the program.
void failWritesIntoBrokenPipes();

class PendingOutputFile {
public:
    // cancelled is asked while the file waits for a reader or for room in a stream.
    PendingOutputFile(OutputPlan plan, std::function<bool()> cancelled);
    // Closes the file; removes the temporary file unless commit() succeeded.
    ~PendingOutputFile();
    PendingOutputFile(const PendingOutputFile&) = delete;
    PendingOutputFile& operator=(const PendingOutputFile&) = delete;

    // Creates the missing folders and the temporary file, or opens the stream (a FIFO
    // waits for its reader, as long as not cancelled). Returns 0 or err::FileCreationFailed.
    int32_t open();
    // The name the output ends up with (links followed), for what looks at its extension.
    const QString& name() const { return plan_.target.isEmpty() ? plan_.shownPath : plan_.target; }
    // Only a temporary file can be gone back over; a stream goes one way.
    bool seekable() const;
    // False when the system refused the write (failureDetail() says why).
    bool write(const void* data, int64_t size);
    // The new position, or -1. whence as for lseek.
    int64_t seek(int64_t offset, int whence);
    // The temporary file's size, or -1 for a stream.
    int64_t size() const;
    // Starts over from nothing, for a writer that gives up part-way and leaves the output
    // to another. False for a stream that has already taken bytes.
    bool restart();
    // Puts the finished file in place (a stream is only closed). Returns 0 or err::FileCreationFailed.
    int32_t commit();

    // The failing step for the user: the output's path and, when a system call failed,
    // the system's reason.
    QString failureDetail() const;
    // errno of the first system call that failed, or 0.
    int systemError() const { return systemError_; }

private:
    int32_t openStream();
    // Keeps the first failure: errno, and the path it concerns when not the output's.
    bool failWith(int error, const QString& path = QString());
    bool waitForRoom();

    OutputPlan plan_;
    std::function<bool()> cancelled_;
    int fd_ = -1;
    bool ownsFd_ = true;
    QByteArray temporaryName_;
    int64_t written_ = 0;
    bool committed_ = false;
    int systemError_ = 0;
    QString failedPath_;
};

}  // namespace clipwren::soundeditor
