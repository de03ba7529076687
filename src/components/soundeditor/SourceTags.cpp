#include "components/soundeditor/SourceTags.h"

#include "components/decode/FfmpegHandles.h"
#include "components/files/LocalFileName.h"

#include <QFile>
#include <QtEndian>
#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace clipwren::soundeditor {

namespace {

// Each carried tag under FFmpeg's generic name, then the other names containers give it
// (looked up without regard to case).
struct TagNames {
    const char* generic;
    std::vector<const char*> others;
};
const TagNames kCarriedTags[] = {
    {"title", {}},
    {"artist", {}},
    {"album", {}},
    {"album_artist", {"albumartist", "album artist"}},
    {"date", {"year"}},
    {"genre", {}},
    {"track", {"tracknumber"}},
    {"comment", {"description"}},
};

const char* const kFrontCoverName = "Cover (front)";

bool muxerIs(const AVFormatContext* output, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (std::strcmp(output->oformat->name, name) == 0) return true;
    return false;
}

// Ogg keeps the cover as a FLAC picture block in a Vorbis comment, base64-encoded.
QByteArray metadataBlockPicture(const CoverPicture& cover) {
    QByteArray block;
    auto put32 = [&block](uint32_t value) {
        char bytes[4];
        qToBigEndian<quint32>(value, bytes);
        block.append(bytes, 4);
    };
    const QByteArray mime = coverMimeType(cover);
    put32(kFrontCoverType);
    put32(uint32_t(mime.size()));
    block.append(mime);
    put32(0);  // no description
    put32(uint32_t(cover.width));
    put32(uint32_t(cover.height));
    put32(24);  // colour depth
    put32(0);   // not indexed
    put32(uint32_t(cover.data.size()));
    block.append(cover.data);
    return block.toBase64();
}

const AVStream* frontCoverStream(const AVFormatContext* source) {
    const AVStream* found = nullptr;
    for (unsigned i = 0; i < source->nb_streams; ++i) {
        const AVStream* stream = source->streams[i];
        if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) || stream->attached_pic.size <= 0) continue;
        const AVCodecID codec = stream->codecpar->codec_id;
        if (codec != AV_CODEC_ID_MJPEG && codec != AV_CODEC_ID_PNG) continue;
        const AVDictionaryEntry* kind = av_dict_get(stream->metadata, "comment", nullptr, 0);
        if (kind && std::strcmp(kind->value, kFrontCoverName) == 0) return stream;
        if (!found) found = stream;
    }
    return found;
}

// Muxers want a picture's size, which demuxers leave unset until the picture is decoded.
// False for a picture that does not decode.
bool findPictureSize(CoverPicture* cover) {
    const AVCodec* codec = avcodec_find_decoder(cover->codec);
    const decode::CodecContextPtr context(codec ? avcodec_alloc_context3(codec) : nullptr);
    const decode::PacketPtr packet(av_packet_alloc());
    const decode::FramePtr frame(av_frame_alloc());
    if (!context || !packet || !frame || avcodec_open2(context.get(), codec, nullptr) < 0 ||
        av_new_packet(packet.get(), int(cover->data.size())) < 0)
        return false;
    std::memcpy(packet->data, cover->data.constData(), size_t(cover->data.size()));
    if (avcodec_send_packet(context.get(), packet.get()) < 0 || avcodec_send_packet(context.get(), nullptr) < 0 ||
        avcodec_receive_frame(context.get(), frame.get()) < 0)
        return false;
    cover->width = frame->width;
    cover->height = frame->height;
    return cover->width > 0 && cover->height > 0;
}

SourceTags tagsOf(const AVFormatContext* source) {
    SourceTags tags;
    // Ogg and FLAC keep their comments with the stream, the others with the file.
    const AVDictionary* places[] = {source->metadata, nullptr};
    const int audio = av_find_best_stream(const_cast<AVFormatContext*>(source), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (audio >= 0) places[1] = source->streams[audio]->metadata;
    for (const TagNames& names : kCarriedTags) {
        const AVDictionaryEntry* entry = nullptr;
        for (const AVDictionary* place : places) {
            entry = av_dict_get(place, names.generic, nullptr, 0);
            for (const char* other : names.others)
                if (!entry) entry = av_dict_get(place, other, nullptr, 0);
            if (entry && *entry->value) break;
            entry = nullptr;
        }
        if (entry) tags.fields.emplace_back(names.generic, entry->value);
    }
    if (const AVStream* picture = frontCoverStream(source)) {
        const AVPacket& packet = picture->attached_pic;
        CoverPicture cover{QByteArray(reinterpret_cast<const char*>(packet.data), packet.size),
                           picture->codecpar->codec_id, picture->codecpar->width, picture->codecpar->height};
        if ((cover.width > 0 && cover.height > 0) || findPictureSize(&cover)) tags.cover = std::move(cover);
    }
    return tags;
}

}  // namespace

const char* coverMimeType(const CoverPicture& cover) {
    return cover.codec == AV_CODEC_ID_PNG ? "image/png" : "image/jpeg";
}

SourceTags readSourceTags(const QString& path) {
    AVFormatContext* raw = nullptr;
    const QByteArray url = files::ffmpegFileUrl(path);
    if (avformat_open_input(&raw, url.constData(), nullptr, nullptr) < 0) return {};
    const decode::FormatContextPtr source(raw);
    return tagsOf(source.get());
}

SourceTags withFields(SourceTags tags, const std::vector<std::pair<QByteArray, QByteArray>>& replaced) {
    for (const auto& [name, value] : replaced) {
        std::erase_if(tags.fields, [&name](const auto& field) { return field.first == name; });
        tags.fields.emplace_back(name, value);
    }
    return tags;
}

int addTags(AVFormatContext* output, const SourceTags& tags) {
    for (const auto& [name, value] : tags.fields)
        av_dict_set(&output->metadata, name.constData(), value.constData(), 0);
    if (muxerIs(output, {"adts"})) av_opt_set_int(output->priv_data, "write_id3v2", 1, 0);
    if (!tags.cover) return -1;
    if (muxerIs(output, {"ogg"})) {
        av_dict_set(&output->metadata, "METADATA_BLOCK_PICTURE", metadataBlockPicture(*tags.cover).constData(), 0);
        return -1;
    }
    if (!muxerIs(output, {"mp3", "mp4", "ipod", "flac"})) return -1;
    AVStream* stream = avformat_new_stream(output, nullptr);
    if (!stream) return -1;
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = tags.cover->codec;
    stream->codecpar->width = tags.cover->width;
    stream->codecpar->height = tags.cover->height;
    stream->disposition = AV_DISPOSITION_ATTACHED_PIC;
    stream->time_base = AVRational{1, 90000};
    av_dict_set(&stream->metadata, "comment", kFrontCoverName, 0);
    return stream->index;
}

int writeCover(AVFormatContext* output, int pictureStream, const SourceTags& tags) {
    if (pictureStream < 0 || !tags.cover) return 0;
    const decode::PacketPtr packet(av_packet_alloc());
    if (!packet || av_new_packet(packet.get(), int(tags.cover->data.size())) < 0) return AVERROR(ENOMEM);
    std::memcpy(packet->data, tags.cover->data.constData(), size_t(tags.cover->data.size()));
    packet->stream_index = pictureStream;
    packet->flags |= AV_PKT_FLAG_KEY;
    packet->pts = packet->dts = 0;
    return av_interleaved_write_frame(output, packet.get());
}

}  // namespace clipwren::soundeditor
