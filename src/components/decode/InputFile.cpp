#include "components/decode/InputFile.h"

#include "components/decode/FfmpegError.h"
#include "components/errors/modSoundErrDesc.h"

#include <QFile>
#include <QFileInfo>

namespace clipwren::decode {

int32_t InputFile::open(const QString& path) {
    path_ = path;
    int32_t rc = openContainer();
    if (rc != err::Ok) return rc;
    const AVCodec* decoder = nullptr;
    streamIndex_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (streamIndex_ < 0 || !decoder) return err::InvalidSoundFile;
    selectStream();
    if ((rc = openDecoder()) != err::Ok) return rc;
    if (codec_->sample_rate <= 0 || codec_->ch_layout.nb_channels <= 0) return err::InvalidSoundFile;
    codecName_ = QString::fromLatin1(decoder->name);
    containerName_ = QString::fromLatin1(format_->iformat->name);
    return err::Ok;
}

int32_t InputFile::openContainer() {
    AVFormatContext* raw = nullptr;
    // Always through the file protocol, so a name such as "pipe:0" or "concat:..." is a file.
    const QByteArray url = "file:" + QFile::encodeName(QFileInfo(path_).absoluteFilePath());
    if (logIfFailed(avformat_open_input(&raw, url.constData(), nullptr, nullptr), "opening a sound file") < 0)
        return err::InvalidSoundFile;
    format_.reset(raw);
    if (logIfFailed(avformat_find_stream_info(format_.get(), nullptr), "reading a sound file's streams") < 0)
        return err::InvalidSoundFile;
    return err::Ok;
}

// The demuxer reads only the chosen stream's packets.
void InputFile::selectStream() {
    stream_ = format_->streams[streamIndex_];
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (int(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;
}

int32_t InputFile::openDecoder() {
    const AVCodec* decoder = avcodec_find_decoder(stream_->codecpar->codec_id);
    if (!decoder) return err::InvalidSoundFile;
    codec_.reset(avcodec_alloc_context3(decoder));
    if (!codec_) return err::NotEnoughMemory;
    if (logIfFailed(avcodec_parameters_to_context(codec_.get(), stream_->codecpar), "setting up the decoder") < 0)
        return err::InvalidSoundFile;
    codec_->pkt_timebase = stream_->time_base;
    return logIfFailed(avcodec_open2(codec_.get(), decoder, nullptr), "opening the decoder") < 0 ? err::InvalidSoundFile
                                                                                                  : err::Ok;
}

bool InputFile::seek(int64_t timestamp, int64_t firstPacketTimestamp) {
    const int sought = av_seek_frame(format_.get(), streamIndex_, timestamp, AVSEEK_FLAG_BACKWARD);
    if (logIfFailed(sought, "seeking in a sound file") >= 0) return true;
    if (timestamp != firstPacketTimestamp) return false;
    format_.reset();
    if (openContainer() != err::Ok || streamIndex_ >= int(format_->nb_streams)) return false;
    selectStream();
    return true;
}

}  // namespace clipwren::decode
