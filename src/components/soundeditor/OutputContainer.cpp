#include "components/soundeditor/OutputContainer.h"

#include "components/soundeditor/PendingOutputFile.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace clipwren::soundeditor {

namespace {

// FFmpeg's own buffer size for files.
constexpr int kBufferSize = 32768;

int failure(const PendingOutputFile& output) { return AVERROR(output.systemError() != 0 ? output.systemError() : EIO); }

// Where the container's bytes go: the output, through the rewriter for the header when
// there is one. Positions are the container's own; past the header, the file's lie
// `growth` bytes further on.
struct Sink {
    Sink(PendingOutputFile& output, const HeaderRewriter* rewriter) : output(output), rewriter(rewriter) {}

    PendingOutputFile& output;
    const HeaderRewriter* rewriter;
    QByteArray header;        // as the muxer last wrote it
    int64_t headerLength = 0;  // 0: not known yet; -1: no header to rewrite
    int64_t position = 0;
    int64_t growth = 0;
    bool headerPending = false;  // written into `header` but not into the file yet

    bool inHeader() const { return rewriter && headerLength >= 0 && (headerLength == 0 || position < headerLength); }

    // Puts the header, as changed, at the file's start; the file is then just past it.
    bool storeHeader() {
        if (!headerPending) return true;
        const QByteArray stored = rewriter->rewrite(header.left(headerLength));
        growth = stored.size() - headerLength;
        headerPending = false;
        return (!output.seekable() || output.seek(0, SEEK_SET) == 0) && output.write(stored.constData(), stored.size());
    }

    bool write(const uint8_t* bytes, int64_t size) {
        while (size > 0 && inHeader()) {
            if (headerLength == 0) {
                const auto* incoming = reinterpret_cast<const char*>(bytes);
                headerLength = rewriter->headerLength(header.left(position) + QByteArray::fromRawData(incoming, int(size)));
                // No header to change: what was held back goes out as it is.
                if (headerLength < 0) {
                    headerPending = false;
                    if (!output.write(header.constData(), position)) return false;
                    break;
                }
            }
            const int64_t taken = headerLength > 0 ? std::min(size, headerLength - position) : size;
            if (header.size() < position + taken) header.resize(position + taken);
            std::memcpy(header.data() + position, bytes, size_t(taken));
            position += taken;
            bytes += taken;
            size -= taken;
            headerPending = true;
            if (headerLength > 0 && position == headerLength && !storeHeader()) return false;
        }
        if (size <= 0) return true;
        position += size;
        return output.write(bytes, size);
    }

    int64_t seek(int64_t offset, int whence) {
        const int64_t length = output.size() - growth;
        const int64_t target = whence == SEEK_SET ? offset : whence == SEEK_CUR ? position + offset : length + offset;
        if (target < 0) return -1;
        const bool intoHeader = rewriter && headerLength > 0 && target < headerLength;
        // A header written anew only in part goes into the file before the muxer leaves it.
        if (!intoHeader && !storeHeader()) return -1;
        position = target;
        if (!intoHeader && output.seek(target + growth, SEEK_SET) < 0) return -1;
        return target;
    }
};

int writePacket(void* opaque, uint8_t* bytes, int size) {
    auto& sink = *static_cast<Sink*>(opaque);
    return sink.write(bytes, size) ? size : failure(sink.output);
}

int64_t seekTo(void* opaque, int64_t offset, int whence) {
    auto& sink = *static_cast<Sink*>(opaque);
    if (whence & AVSEEK_SIZE) return sink.output.size() - sink.growth;
    const int64_t position = sink.seek(offset, whence & ~AVSEEK_FORCE);
    return position >= 0 ? position : failure(sink.output);
}

}  // namespace

void OutputContainerFreer::operator()(AVFormatContext* container) const {
    if (container->pb) {
        delete static_cast<Sink*>(container->pb->opaque);
        av_freep(&container->pb->buffer);
        avio_context_free(&container->pb);
    }
    avformat_free_context(container);
}

OutputContainerPtr openOutputContainer(const char* muxer, PendingOutputFile& output, int* error,
                                       const HeaderRewriter* rewriter) {
    AVFormatContext* raw = nullptr;
    // The name is only looked at (a muxer may check its extension); the bytes go to output.
    *error = avformat_alloc_output_context2(&raw, nullptr, muxer, QFile::encodeName(output.name()).constData());
    if (*error < 0) return nullptr;
    OutputContainerPtr container(raw);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    auto sink = std::make_unique<Sink>(output, rewriter);
    // Without a seek function the container knows the output for a stream and never goes back.
    if (buffer)
        container->pb = avio_alloc_context(buffer, kBufferSize, 1, sink.get(), nullptr, writePacket,
                                           output.seekable() ? seekTo : nullptr);
    if (!container->pb) {
        av_free(buffer);
        *error = AVERROR(ENOMEM);
        return nullptr;
    }
    sink.release();  // the container's freer deletes it
    container->flags |= AVFMT_FLAG_CUSTOM_IO;
    return container;
}

int flushOutputContainer(AVFormatContext& container) {
    avio_flush(container.pb);
    if (container.pb->error < 0) return container.pb->error;
    auto& sink = *static_cast<Sink*>(container.pb->opaque);
    return sink.storeHeader() ? 0 : failure(sink.output);
}

}  // namespace clipwren::soundeditor
