#pragma once
// A quick, approximate look into a sound: short stretches decoded at chosen spots,
// each reached by the container's own seeking. Unlike AudioDecoder it neither places
// the audio exactly nor counts the exact length; it gives a picture of a long file in
// a fraction of the time a whole decode takes. Not thread-safe: one thread per reader.
#include "components/errors/Failure.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace clipwren::decode {

class SpotReader {
public:
    // Fails (an err:: code) when the file is not decodable audio.
    static Result<std::unique_ptr<SpotReader>> open(const QString& path);
    struct PrivateKey {};  // only open() constructs
    explicit SpotReader(PrivateKey);
    ~SpotReader();
    SpotReader(const SpotReader&) = delete;
    SpotReader& operator=(const SpotReader&) = delete;

    int sampleRate() const;
    // The container's duration in source frames: exact for most files, an estimate
    // from the bit rate for some (MP3 without a Xing header, ADTS AAC); 0 when unknown.
    int64_t durationFrames() const;

    // The lowest and highest sample over all channels of about `frames` frames decoded
    // from near source frame `frame`. False when nothing decodes there.
    bool peaksNear(int64_t frame, int64_t frames, float* low, float* high);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace clipwren::decode
