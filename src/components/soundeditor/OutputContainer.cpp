#include "components/soundeditor/OutputContainer.h"

#include "components/soundeditor/PendingOutputFile.h"

#include <QFile>
#include <cerrno>

namespace clipwren::soundeditor {

namespace {

// FFmpeg's own buffer size for files.
constexpr int kBufferSize = 32768;

int writePacket(void* opaque, uint8_t* bytes, int size) {
    auto& output = *static_cast<PendingOutputFile*>(opaque);
    if (output.write(bytes, size)) return size;
    return AVERROR(output.systemError() != 0 ? output.systemError() : EIO);
}

int64_t seekTo(void* opaque, int64_t offset, int whence) {
    auto& output = *static_cast<PendingOutputFile*>(opaque);
    if (whence & AVSEEK_SIZE) return output.size();
    const int64_t position = output.seek(offset, whence & ~AVSEEK_FORCE);
    return position >= 0 ? position : AVERROR(output.systemError() != 0 ? output.systemError() : EIO);
}

}  // namespace

void OutputContainerFreer::operator()(AVFormatContext* container) const {
    if (container->pb) {
        av_freep(&container->pb->buffer);
        avio_context_free(&container->pb);
    }
    avformat_free_context(container);
}

OutputContainerPtr openOutputContainer(const char* muxer, PendingOutputFile& output, int* error) {
    AVFormatContext* raw = nullptr;
    // The name is only looked at (a muxer may check its extension); the bytes go to output.
    *error = avformat_alloc_output_context2(&raw, nullptr, muxer, QFile::encodeName(output.name()).constData());
    if (*error < 0) return nullptr;
    OutputContainerPtr container(raw);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    // Without a seek function the container knows the output for a stream and never goes back.
    if (buffer)
        container->pb = avio_alloc_context(buffer, kBufferSize, 1, &output, nullptr, writePacket,
                                           output.seekable() ? seekTo : nullptr);
    if (!container->pb) {
        av_free(buffer);
        *error = AVERROR(ENOMEM);
        return nullptr;
    }
    container->flags |= AVFMT_FLAG_CUSTOM_IO;
    return container;
}

int flushOutputContainer(AVFormatContext& container) {
    avio_flush(container.pb);
    return container.pb->error;
}

}  // namespace clipwren::soundeditor
