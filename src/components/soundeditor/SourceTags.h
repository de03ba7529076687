#pragma once
// The tags and the front cover of a sound file, carried from the source of a cut to its
// output: title, artist, album, album artist, date, genre, track, comment and the front
// cover picture, wherever the output's container has a place for them (ID3v2 in MP3, MP4
// atoms, Vorbis comments and a METADATA_BLOCK_PICTURE in Ogg, FLAC's picture block, ASF
// attributes, a LIST/INFO chunk in WAV, an ID3v2 tag before ADTS AAC).
#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

struct AVFormatContext;

namespace clipwren::soundeditor {

struct CoverPicture {
    QByteArray data;  // the picture file's bytes (JPEG or PNG)
    AVCodecID codec = AV_CODEC_ID_NONE;
    int width = 0;
    int height = 0;
};

// The picture type of a front cover, in ID3v2's APIC, FLAC's picture block and ASF's
// WM/Picture alike.
constexpr int kFrontCoverType = 3;
// The cover's MIME type: "image/png" or "image/jpeg".
const char* coverMimeType(const CoverPicture& cover);

struct SourceTags {
    // FFmpeg's generic names ("title", "album_artist", ...) with their UTF-8 values.
    std::vector<std::pair<QByteArray, QByteArray>> fields;
    std::optional<CoverPicture> cover;
};

// What the file carries; nothing when it cannot be read.
SourceTags readSourceTags(const QString& path);
// The tags with `replaced` in place of their fields of the same names.
SourceTags withFields(SourceTags tags, const std::vector<std::pair<QByteArray, QByteArray>>& replaced);

// For an output being set up, before its header is written: puts the tags where its
// container keeps them and, where the container keeps the cover as a picture stream,
// adds that stream. Returns the picture stream's index or -1.
int addTags(AVFormatContext* output, const SourceTags& tags);
// After the header: hands the picture to the stream addTags made. Returns an FFmpeg result.
int writeCover(AVFormatContext* output, int pictureStream, const SourceTags& tags);

}  // namespace clipwren::soundeditor
