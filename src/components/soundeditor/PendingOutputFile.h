#pragma once
// An output written under a temporary name beside its final path and renamed over it
// only once complete, so a failed or cancelled write never leaves a partial file and
// never touches a file already at that name.
#include <QString>
#include <cstdint>

namespace clipwren::soundeditor {

class PendingOutputFile {
public:
    explicit PendingOutputFile(const QString& finalPath);
    // Removes the temporary file unless commit() succeeded.
    ~PendingOutputFile();
    PendingOutputFile(const PendingOutputFile&) = delete;
    PendingOutputFile& operator=(const PendingOutputFile&) = delete;

    // Creates the final path's folder when missing and reserves a unique temporary
    // file in it. Returns 0 or err::FileCreationFailed.
    int32_t create();
    const QString& temporaryPath() const { return temporaryPath_; }
    // Moves the finished temporary file over the final path. Returns 0 or err::FileCreationFailed.
    int32_t commit();

private:
    QString finalPath_;
    QString temporaryPath_;
    bool committed_ = false;
};

}  // namespace clipwren::soundeditor
