#include "components/decode/OggChains.h"

#include <memory>

extern "C" {
#include <libavformat/avio.h>
}

namespace clipwren::decode {

namespace {

struct IoCloser {
    void operator()(AVIOContext* io) const { avio_closep(&io); }
};
using IoPtr = std::unique_ptr<AVIOContext, IoCloser>;

IoPtr openForReading(const QByteArray& url) {
    AVIOContext* raw = nullptr;
    if (avio_open(&raw, url.constData(), AVIO_FLAG_READ) < 0) return nullptr;
    return IoPtr(raw);
}

// The page header: capture pattern "OggS", version, header type, granule position (8),
// serial number (4), page sequence (4), checksum (4), segment count, then the segment
// table whose lacing values add up to the page's body length.
constexpr uint32_t kCapturePattern = 0x4f676753;  // "OggS", read big-endian
constexpr int kFieldsAfterGranule = 4 + 4 + 4;
constexpr int kBeginsStream = 0x02;
constexpr int kEndsStream = 0x04;
// A page on which no packet ends has no position.
constexpr int64_t kNoGranule = -1;

struct PageHeader {
    int type = 0;
    int64_t granule = kNoGranule;
};

// Reads the next page's header and skips its body; false at the end of the file. A
// damaged header may give a wrong length: the search for the next capture pattern
// finds the way back.
bool nextPage(AVIOContext* io, PageHeader* page) {
    uint32_t window = 0;
    while (!avio_feof(io)) {
        window = (window << 8) | uint32_t(avio_r8(io));
        if (window != kCapturePattern) continue;
        avio_r8(io);  // version
        page->type = avio_r8(io);
        page->granule = int64_t(avio_rl64(io));
        avio_skip(io, kFieldsAfterGranule);
        const int segments = avio_r8(io);
        int64_t bodyLength = 0;
        for (int i = 0; i < segments; ++i) bodyLength += avio_r8(io);
        avio_skip(io, bodyLength);
        return true;
    }
    return false;
}

}  // namespace

bool hasChainedOggStreams(const QByteArray& url) {
    const IoPtr io = openForReading(url);
    if (!io) return false;
    bool dataSeen = false;
    PageHeader page;
    while (nextPage(io.get(), &page)) {
        const bool beginsStream = page.type & kBeginsStream;
        if (beginsStream && dataSeen) return true;
        dataSeen = dataSeen || !beginsStream;
    }
    return false;
}

std::optional<int64_t> onePageStreamGranule(const QByteArray& url) {
    const IoPtr io = openForReading(url);
    if (!io) return std::nullopt;
    // The header packets' pages have position 0; the first page after them with a
    // position greater must be the stream's last, and the file's.
    PageHeader page;
    while (nextPage(io.get(), &page)) {
        if (page.granule == kNoGranule || page.granule == 0) continue;
        const int64_t granule = page.granule;
        const bool last = (page.type & kEndsStream) && !nextPage(io.get(), &page);
        return last ? std::optional<int64_t>(granule) : std::nullopt;
    }
    return std::nullopt;
}

}  // namespace clipwren::decode
