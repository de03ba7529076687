#pragma once
// The cut pipeline's decoding and encoding, done with FFmpeg: the input decoded by
// AudioDecoder, a piece encoded by EncodedFileWriter, AAC in MP4 copied by its muxer.
// Holds nothing: one instance serves any number of pipelines on any threads.
#include "components/soundeditor/CutPipeline.h"

namespace clipwren::soundeditor {

class FfmpegCodecs : public Codecs {
public:
    Result<std::unique_ptr<DecodedSource>> open(const QString& path) const override;
    bool hasEncoder(const char* name) const override;
};

}  // namespace clipwren::soundeditor
