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

// The page header: capture pattern "OggS", version, header type, granule position (8),
// serial number (4), page sequence (4), checksum (4), segment count, then the segment
// table whose lacing values add up to the page's body length.
constexpr uint32_t kCapturePattern = 0x4f676753;  // "OggS", read big-endian
constexpr int kFieldsAfterHeaderType = 8 + 4 + 4 + 4;
constexpr int kBeginsStream = 0x02;

// Moves to the next capture pattern; false at the end of the file.
bool findNextPage(AVIOContext* io) {
    uint32_t window = 0;
    while (!avio_feof(io)) {
        window = (window << 8) | uint32_t(avio_r8(io));
        if (window == kCapturePattern) return true;
    }
    return false;
}

}  // namespace

bool hasChainedOggStreams(const QByteArray& url) {
    AVIOContext* raw = nullptr;
    if (avio_open(&raw, url.constData(), AVIO_FLAG_READ) < 0) return false;
    const std::unique_ptr<AVIOContext, IoCloser> io(raw);
    bool dataSeen = false;
    while (findNextPage(io.get())) {
        avio_r8(io.get());  // version
        const bool beginsStream = avio_r8(io.get()) & kBeginsStream;
        if (beginsStream && dataSeen) return true;
        dataSeen = dataSeen || !beginsStream;
        avio_skip(io.get(), kFieldsAfterHeaderType);
        const int segments = avio_r8(io.get());
        int64_t bodyLength = 0;
        for (int i = 0; i < segments; ++i) bodyLength += avio_r8(io.get());
        // A damaged header may give a wrong length: the search for the next capture
        // pattern finds the way back.
        avio_skip(io.get(), bodyLength);
    }
    return false;
}

}  // namespace clipwren::decode
