#pragma once
// Sequential reading of a large file through a window of a few hundred kilobytes: the
// frame walkers look at a few bytes at a time, mostly in order, and the whole file
// never needs to be in memory.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>

namespace clipwren::soundeditor {

class FileWindow {
public:
    explicit FileWindow(const QString& path);
    bool isOpen() const { return file_.isOpen(); }
    int64_t size() const { return size_; }
    // Points *data at `length` bytes from `offset`, valid until the next call. False when
    // the file ends before them or cannot be read.
    bool view(int64_t offset, int length, const uint8_t** data);

private:
    QFile file_;
    int64_t size_ = 0;
    QByteArray window_;
    int64_t windowStart_ = 0;
};

}  // namespace clipwren::soundeditor
