#include "components/decode/InputFile.h"

#include "components/decode/FfmpegError.h"
#include "components/decode/OggChains.h"
#include "components/errors/modSoundErrDesc.h"
#include "components/files/LocalFileName.h"
#include "components/soundeditor/lossless/FileWindow.h"
#include "components/soundeditor/lossless/Mp3Frames.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

namespace clipwren::decode {

int32_t InputFile::open(const QString& path) {
    path_ = path;
    url_ = files::ffmpegFileUrl(path);
    int32_t rc = openContainer();
    if (rc != err::Ok) return rc;
    const AVCodec* decoder = nullptr;
    streamIndex_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (streamIndex_ == AVERROR_DECODER_NOT_FOUND)
        return fail(err::InvalidSoundFile, QStringLiteral("there is no decoder for its audio"));
    if (streamIndex_ < 0 || !decoder) return fail(err::InvalidSoundFile, QStringLiteral("it holds no audio"));
    selectStream();
    parameters_.reset(avcodec_parameters_alloc());
    if (!parameters_ || avcodec_parameters_copy(parameters_.get(), stream_->codecpar) < 0) return err::NotEnoughMemory;
    if ((rc = openDecoder()) != err::Ok) return rc;
    if (codec_->sample_rate <= 0 || codec_->ch_layout.nb_channels <= 0)
        return fail(err::InvalidSoundFile, QStringLiteral("its audio gives no sample rate or channel count"));
    codecName_ = QString::fromLatin1(decoder->name);
    containerName_ = QString::fromLatin1(format_->iformat->name);
    if (containerName_ == QLatin1String("mp3") && parameters_->codec_id == AV_CODEC_ID_MP3)
        mp3Packets_ = Mp3Packets::open(path, stream_->time_base, streamIndex_);
    if (containerName_ == QLatin1String("ogg") && parameters_->codec_id == AV_CODEC_ID_VORBIS)
        granuleEnd_ = onePageStreamGranule(url_);
    return err::Ok;
}

std::optional<QString> whatTheHeadSays(const QString& path) {
    soundeditor::FileWindow file(path);
    const uint8_t* bytes = nullptr;
    if (!file.isOpen()) return std::nullopt;
    if (file.size() == 0) return QStringLiteral("the file is empty");
    int64_t at = 0;
    using soundeditor::mp3::id3v2Length;
    while (file.view(at, 10, &bytes) && id3v2Length(bytes) > 0) at += id3v2Length(bytes);
    if (at > file.size()) return QStringLiteral("the file is cut short: it ends inside its ID3 tag, before any sound");
    if (at == file.size()) return QStringLiteral("the file is cut short: it holds an ID3 tag and no sound");
    // Taggers may leave zeros between the tag and the first frame.
    while (file.view(at, 1, &bytes) && bytes[0] == 0) ++at;
    if (file.view(at, 4, &bytes) && soundeditor::mp3::isFreeFormatHeader(bytes))
        return QStringLiteral("it holds free-format MPEG audio, which FFmpeg cannot decode");
    return std::nullopt;
}

int InputFile::sendPacket(AVPacket* packet) {
    if (packet && granuleEnd_) {
        // The trimming is the side data's second field; the duration FFmpeg gave the
        // packet with it would misplace the untrimmed frame.
        size_t size = 0;
        if (uint8_t* skip = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size); skip && size >= 8) {
            AV_WL32(skip + 4, 0);
            packet->duration = 0;
        }
    }
    return avcodec_send_packet(codec_.get(), packet);
}

namespace {

// FFmpeg's probe looks at up to this much of a file's start.
constexpr qint64 kProbedBytes = 1 << 20;

// Why FFmpeg could not open a file: no format it knows starts like it, or one does and
// the file ends or breaks before FFmpeg has read what that format needs. By content
// alone: the name's extension would make any text named .mp3 "MP3".
QString unopenedReason(const QString& path) {
    QFile file;
    QByteArray head = files::openLocalFile(file, path, QIODevice::ReadOnly) ? file.read(kProbedBytes) : QByteArray();
    const int size = int(head.size());
    head.append(QByteArray(AVPROBE_PADDING_SIZE, '\0'));
    AVProbeData probe{};
    probe.filename = "";
    probe.buf = reinterpret_cast<unsigned char*>(head.data());
    probe.buf_size = size;
    int score = 0;
    const AVInputFormat* format = av_probe_input_format3(&probe, 1, &score);
    // Below this score FFmpeg's own probe reads on rather than trust a format.
    if (!format || score <= AVPROBE_SCORE_RETRY)
        return QStringLiteral("it is not a sound file: no format FFmpeg knows starts like it");
    return QStringLiteral("the file is cut short or damaged: it starts as %1 but cannot be read as that")
        .arg(QString::fromUtf8(format->long_name));
}

// An ADTS file (.aac) of one or two frames, as a short cut gives, is too short for
// FFmpeg's probe, which wants several frames in a row; its name says what it is. Other
// formats are recognised from their content alone, so noise is never taken for sound.
const AVInputFormat* demuxerForExtension(const QByteArray& url) {
    return av_match_ext(url.constData(), "aac") ? av_find_input_format("aac") : nullptr;
}

}  // namespace

int32_t InputFile::openContainer() {
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, url_.constData(), nullptr, nullptr);
    if (rc == AVERROR_INVALIDDATA) {
        if (const AVInputFormat* byExtension = demuxerForExtension(url_))
            rc = avformat_open_input(&raw, url_.constData(), byExtension, nullptr);
    }
    if (rc < 0) return fail(err::InvalidSoundFile, unopenedReason(path_));
    format_.reset(raw);
    if ((rc = avformat_find_stream_info(format_.get(), nullptr)) < 0)
        return fail(err::InvalidSoundFile, QStringLiteral("its streams cannot be read: ") + ffmpegErrorText(rc));
    return err::Ok;
}

// The demuxer reads only the chosen stream's packets.
void InputFile::selectStream() {
    stream_ = format_->streams[streamIndex_];
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (int(i) != streamIndex_) format_->streams[i]->discard = AVDISCARD_ALL;
}

int32_t InputFile::openDecoder() {
    const AVCodec* decoder = avcodec_find_decoder(parameters_->codec_id);
    if (!decoder) return fail(err::InvalidSoundFile, QStringLiteral("there is no decoder for its audio"));
    codec_.reset(avcodec_alloc_context3(decoder));
    if (!codec_) return err::NotEnoughMemory;
    int rc = avcodec_parameters_to_context(codec_.get(), parameters_.get());
    codec_->pkt_timebase = stream_->time_base;
    if (rc >= 0) rc = avcodec_open2(codec_.get(), decoder, nullptr);
    if (rc < 0) return fail(err::InvalidSoundFile, QStringLiteral("its decoder cannot start: ") + ffmpegErrorText(rc));
    return err::Ok;
}

int32_t InputFile::fail(int32_t code, const QString& reason) {
    failure_ = reason;
    return code;
}

std::optional<int64_t> InputFile::indexedLength() const {
    return mp3Packets_ ? std::optional<int64_t>(mp3Packets_->lengthFrames()) : std::nullopt;
}

int InputFile::readPacket(AVPacket* packet) {
    return mp3Packets_ ? mp3Packets_->read(packet) : av_read_frame(format_.get(), packet);
}

void InputFile::expectSeeks() {
    if (mp3Packets_) mp3Packets_->expectSeeks();
}

bool InputFile::seek(int64_t timestamp) {
    if (mp3Packets_) {
        mp3Packets_->seek(timestamp);
        return true;
    }
    return logIfFailed(av_seek_frame(format_.get(), streamIndex_, timestamp, AVSEEK_FLAG_BACKWARD),
                       "seeking in a sound file") >= 0;
}

bool InputFile::rewind(int64_t firstPacketTimestamp, bool startsUntimed) {
    if (mp3Packets_) return seek(firstPacketTimestamp);
    // Seeking keeps what the demuxer has learnt of the file (an MP3's index of frames,
    // which a far seek after reopening would first have to read through again: 170 ms
    // for the first seek in an hour of VBR MP3).
    if (!startsUntimed && containerName_ != QLatin1String("ogg") &&
        av_seek_frame(format_.get(), streamIndex_, firstPacketTimestamp, AVSEEK_FLAG_BACKWARD) >= 0)
        return true;
    format_.reset();
    if (openContainer() != err::Ok || streamIndex_ >= int(format_->nb_streams)) return false;
    selectStream();
    return true;
}

}  // namespace clipwren::decode
