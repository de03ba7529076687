#include "components/soundeditor/lossless/FileWindow.h"

#include "components/files/LocalFileName.h"

#include <algorithm>

namespace clipwren::soundeditor {

namespace {
// Large enough that reading a 60-minute MP3's headers costs a few hundred reads.
constexpr int64_t kWindowBytes = 256 * 1024;
}  // namespace

FileWindow::FileWindow(const QString& path) {
    if (files::openLocalFile(file_, path, QIODevice::ReadOnly)) size_ = file_.size();
}

bool FileWindow::view(int64_t offset, int length, const uint8_t** data) {
    if (offset < 0 || length < 0 || offset + length > size_) return false;
    if (offset < windowStart_ || offset + length > windowStart_ + window_.size()) {
        const int64_t bytes = std::min(std::max<int64_t>(kWindowBytes, length), size_ - offset);
        if (!file_.seek(offset)) return false;
        window_.resize(qsizetype(bytes));
        const int64_t got = file_.read(window_.data(), bytes);
        window_.resize(qsizetype(std::max<int64_t>(got, 0)));
        windowStart_ = offset;
        if (window_.size() < length) return false;
    }
    *data = reinterpret_cast<const uint8_t*>(window_.constData()) + (offset - windowStart_);
    return true;
}

}  // namespace clipwren::soundeditor
