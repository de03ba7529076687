#pragma once
// Encodes interleaved float audio and writes it into a container in an output file:
// the encoder is fed whole frames of its own size with timestamps in samples, so the
// muxers can record encoder delay and padding (LAME header in MP3, edit list in MP4).
#include "components/errors/Failure.h"
#include "components/soundeditor/FormatTable.h"
#include "components/soundeditor/PendingOutputFile.h"
#include "components/soundeditor/SourceTags.h"

#include <cstdint>
#include <memory>

namespace clipwren::soundeditor {

class EncodedFileWriter {
public:
    // Starts the container in output (opened, and outliving the writer), with the tags
    // and cover where the container holds them. Fails with
    // err::EncoderNotAvailable when the encoder is missing or refuses the settings,
    // err::EncoderFailedToStart when the container cannot be started,
    // err::FileCreationFailed when the output refuses the bytes.
    static Result<std::unique_ptr<EncodedFileWriter>> open(PendingOutputFile& output, const Encoding& encoding,
                                                           int sampleRate, int channels, const SourceTags& tags);
    struct PrivateKey {};  // only open() constructs
    explicit EncodedFileWriter(PrivateKey);
    ~EncodedFileWriter();
    EncodedFileWriter(const EncodedFileWriter&) = delete;
    EncodedFileWriter& operator=(const EncodedFileWriter&) = delete;

    // Frames of sound from just before the piece that are to be written ahead of it,
    // because the output's decoder drops them; 0 for most encodings.
    int64_t leadFrames() const;
    // The frames write() and writeSilence() will be given in all, when known before the
    // first. An MP3 going into a stream (a pipe, standard output), which the container
    // cannot go back over to put its gapless header in front, then gets that header
    // first, counting the frames the encoder will give for this many; a shortfall is
    // made up with silence when finishing, so that the header holds.
    void announceLength(int64_t frames);
    // Returns 0 or a negative error code.
    int32_t write(const float* interleaved, int64_t frames);
    int32_t writeSilence(int64_t frames);
    // Encodes what is buffered (followed by a frame of silence where the decoder needs
    // one to finish the last frame, and by silence up to the encoding's minimum number
    // of frames), drains the encoder, finishes the container and writes out what is
    // still buffered.
    int32_t finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace clipwren::soundeditor
