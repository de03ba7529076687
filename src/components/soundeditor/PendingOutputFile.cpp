#include "components/soundeditor/PendingOutputFile.h"

#include "components/errors/FileFailure.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/files/LocalFileName.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace clipwren::soundeditor {

namespace {

// How long a stream waits for its reader, or for room, before it looks for a cancel
// again; a tenth of a second is not noticed by someone who cancels.
constexpr int kPollIntervalMs = 100;
// The kernel gives up following links after this many; so do we, for a link to nothing.
constexpr int kMaxLinkHops = 40;
// Short, whatever the length of the output's name: a name near the file system's limit
// must still leave room for the temporary one.
const QString kTemporaryPattern = QStringLiteral(".clipwren-XXXXXX.part");
constexpr int kTemporarySuffixLength = 5;  // ".part"
constexpr mode_t kNewFileMode = 0644;      // rw-r--r--, as the user's other files

// The name's own bytes: any name the file system holds, valid UTF-8 or not.
QByteArray nameOf(const QString& path) { return files::encodeFileName(path); }

// The file a path ends at when its links are followed, even where the last link points
// to nothing yet: a shell's redirection creates that file.
QString throughLinks(QString path) {
    namespace fs = std::filesystem;
    std::error_code error;
    for (int hops = 0; hops < kMaxLinkHops && fs::is_symlink(files::fileSystemPath(path), error); ++hops) {
        const fs::path link = files::fileSystemPath(path);
        const fs::path target = fs::read_symlink(link, error);
        if (error) break;
        path = files::decodeFileName(QByteArray::fromStdString((link.parent_path() / target).native()));
    }
    return path;
}

bool isFifo(const QByteArray& name) {
    struct stat info {};
    return ::stat(name.constData(), &info) == 0 && S_ISFIFO(info.st_mode);
}

}  // namespace

Failure planOutput(const QString& outputPath, const QString& inputPath, bool mustSeekBack, OutputPlan* plan) {
    const bool standardOutput = outputPath == kStandardOutputPath;
    plan->shownPath = standardOutput ? QStringLiteral("standard output") : outputPath;
    const auto refuse = [](int32_t code, const QString& why) { return Failure{code, why}; };
    const auto refuseFor = [&](int systemError) {
        return refuse(err::FileCreationFailed, FileFailureText(plan->shownPath, systemError));
    };

    struct stat output {};
    if (standardOutput) {
        if (::fstat(STDOUT_FILENO, &output) != 0) return refuseFor(errno);
        plan->kind = OutputPlan::Kind::Stream;
        plan->target.clear();
    } else {
        // A name that ends in a separator can only be a folder.
        if (QFileInfo(outputPath).fileName().isEmpty()) return refuseFor(EISDIR);
        if (::stat(nameOf(outputPath).constData(), &output) != 0) {
            if (errno != ENOENT) return refuseFor(errno);
            plan->kind = OutputPlan::Kind::ReplacedFile;
            plan->target = throughLinks(outputPath);
            return {};
        }
        if (S_ISDIR(output.st_mode)) return refuseFor(EISDIR);
        const bool regular = S_ISREG(output.st_mode);
        plan->kind = regular ? OutputPlan::Kind::ReplacedFile : OutputPlan::Kind::Stream;
        plan->target = regular ? throughLinks(outputPath) : outputPath;
    }
    // The same file however it is named: through a link, a hard link or another spelling.
    struct stat input {};
    if (::stat(nameOf(inputPath).constData(), &input) == 0 && input.st_dev == output.st_dev &&
        input.st_ino == output.st_ino)
        return refuse(err::FileCreationFailed,
                      QStringLiteral("%1: this is the input file, which a cut never replaces").arg(plan->shownPath));
    if (plan->kind == OutputPlan::Kind::Stream && mustSeekBack)
        return refuse(err::InvalidExportSettings,
                      QStringLiteral("%1: an MP4 or M4A file goes back to write its index, which a pipe or device "
                                     "cannot take; choose a regular file or another format")
                          .arg(plan->shownPath));
    // As a shell would: a file the user may not write is not written, nor replaced.
    if (!standardOutput && ::faccessat(AT_FDCWD, nameOf(plan->target).constData(), W_OK, AT_EACCESS) != 0)
        return refuseFor(errno);
    return err::Ok;
}

void failWritesIntoBrokenPipes() {
    sigset_t brokenPipe;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr);
}

PendingOutputFile::PendingOutputFile(OutputPlan plan, std::function<bool()> cancelled)
    : plan_(std::move(plan)), cancelled_(std::move(cancelled)) {}

PendingOutputFile::~PendingOutputFile() {
    if (fd_ >= 0 && ownsFd_) ::close(fd_);
    if (!committed_ && !temporaryName_.isEmpty()) ::unlink(temporaryName_.constData());
}

bool PendingOutputFile::failWith(int error, const QString& path) {
    if (systemError_ == 0) {
        systemError_ = error;
        failedPath_ = path;
    }
    return false;
}

QString PendingOutputFile::failureDetail() const {
    return FileFailureText(failedPath_.isEmpty() ? plan_.shownPath : failedPath_, systemError_);
}

int32_t PendingOutputFile::open() {
    if (plan_.kind == OutputPlan::Kind::Stream) return openStream();
    // Same folder as the final file, so the rename never crosses file systems.
    const QString folder = QFileInfo(plan_.target).absolutePath();
    std::error_code made;
    std::filesystem::create_directories(std::filesystem::path(nameOf(folder).toStdString()), made);
    if (made) return failWith(made.value(), folder), err::FileCreationFailed;
    QByteArray pattern = nameOf(QDir(folder).filePath(kTemporaryPattern));
    fd_ = ::mkostemps(pattern.data(), kTemporarySuffixLength, O_CLOEXEC);
    if (fd_ < 0) return failWith(errno, folder), err::FileCreationFailed;
    temporaryName_ = pattern;
    return err::Ok;
}

int32_t PendingOutputFile::openStream() {
    if (plan_.target.isEmpty()) {
        fd_ = STDOUT_FILENO;
        ownsFd_ = false;
        return err::Ok;
    }
    const QByteArray name = nameOf(plan_.target);
    for (;;) {
        fd_ = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd_ >= 0) break;
        // A FIFO without a reader yet: wait for one, as a shell's redirection would.
        if (errno != ENXIO || !isFifo(name) || cancelled_()) return failWith(errno), err::FileCreationFailed;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
    }
    // Writes wait for room themselves, listening for a cancel meanwhile (waitForRoom).
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    return err::Ok;
}

bool PendingOutputFile::seekable() const { return plan_.kind == OutputPlan::Kind::ReplacedFile; }

bool PendingOutputFile::waitForRoom() {
    pollfd waiting{fd_, POLLOUT, 0};
    for (;;) {
        if (cancelled_()) return failWith(ECANCELED);
        const int ready = ::poll(&waiting, 1, kPollIntervalMs);
        // A reader that has gone shows as an error here; the write then says which.
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return failWith(errno);
    }
}

bool PendingOutputFile::write(const void* data, int64_t size) {
    const auto* bytes = static_cast<const char*>(data);
    const bool stream = !seekable();
    while (size > 0) {
        if (stream && !waitForRoom()) return false;
        // A pipe with room takes up to PIPE_BUF bytes without blocking; a file takes all.
        const int64_t most = stream ? int64_t(PIPE_BUF) : int64_t(INT_MAX);
        const ssize_t done = ::write(fd_, bytes, size_t(std::min(size, most)));
        if (done < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (done <= 0) return failWith(done < 0 ? errno : EIO);
        bytes += done;
        size -= done;
        written_ += done;
    }
    return true;
}

int64_t PendingOutputFile::seek(int64_t offset, int whence) {
    if (!seekable()) return failWith(ESPIPE), -1;
    const off_t position = ::lseek(fd_, off_t(offset), whence);
    if (position < 0) return failWith(errno), -1;
    return position;
}

int64_t PendingOutputFile::size() const {
    struct stat info {};
    if (!seekable() || ::fstat(fd_, &info) != 0) return -1;
    return info.st_size;
}

bool PendingOutputFile::restart() {
    if (!seekable()) return written_ == 0;
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return failWith(errno);
    written_ = 0;
    return true;
}

int32_t PendingOutputFile::commit() {
    if (!seekable()) {
        committed_ = true;
        return err::Ok;
    }
    // A replaced file keeps its owner where the system allows it, and its permissions.
    struct stat existing {};
    const QByteArray target = nameOf(plan_.target);
    const bool replacing = ::stat(target.constData(), &existing) == 0;
    if (replacing && ::fchown(fd_, existing.st_uid, existing.st_gid) != 0) {
        // Only the administrator may give a file away: the new file stays the user's.
    }
    // A file system without permissions refuses this; the sound is written all the same.
    ::fchmod(fd_, replacing ? existing.st_mode & 0777 : kNewFileMode);
    // Some file systems report a failed write only when the file is closed.
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) return failWith(errno), err::FileCreationFailed;
    // rename() replaces an existing file in one step.
    if (::rename(temporaryName_.constData(), target.constData()) != 0)
        return failWith(errno), err::FileCreationFailed;
    committed_ = true;
    return err::Ok;
}

}  // namespace clipwren::soundeditor
