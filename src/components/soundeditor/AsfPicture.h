#pragma once
// The front cover of a WMA file: a WM/Picture attribute in the header's metadata library
// (whose 32-bit lengths take a picture of any size; FFmpeg itself reads those of up to
// 64 KiB). FFmpeg's ASF muxer writes text attributes only, so the picture is put into its
// header on the way into the file.
#include "components/soundeditor/OutputContainer.h"
#include "components/soundeditor/SourceTags.h"

namespace clipwren::soundeditor {

class AsfPictureInserter : public HeaderRewriter {
public:
    explicit AsfPictureInserter(const CoverPicture& cover);
    int64_t headerLength(const QByteArray& start) const override;
    // The header with the picture in its extension object; as it was when it has none.
    QByteArray rewrite(const QByteArray& header) const override;

private:
    QByteArray library_;  // the metadata library object that holds the picture
};

}  // namespace clipwren::soundeditor
