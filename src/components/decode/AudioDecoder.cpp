#include "components/decode/AudioDecoder.h"

#include "components/errors/modSoundErrDesc.h"

#include <cmath>

namespace clipwren::decode {

// Placeholder until decoding lands: every file is refused as not decodable.
struct AudioDecoder::Impl {
    SourceInfo source;
};

AudioDecoder::AudioDecoder() : impl_(std::make_unique<Impl>()) {}
AudioDecoder::~AudioDecoder() = default;

std::unique_ptr<AudioDecoder> AudioDecoder::open(const QString&, int, int, int32_t* error) {
    if (error) *error = err::InvalidSoundFile;
    return nullptr;
}

const SourceInfo& AudioDecoder::source() const { return impl_->source; }
int AudioDecoder::outputRate() const { return 0; }
int AudioDecoder::outputChannels() const { return 0; }
int64_t AudioDecoder::lengthFrames() const { return 0; }
int32_t AudioDecoder::lengthMs() const { return 0; }
int32_t AudioDecoder::seek(int64_t) { return err::InvalidSoundFile; }
int64_t AudioDecoder::read(float*, int64_t) { return err::InvalidSoundFile; }
int64_t AudioDecoder::position() const { return 0; }

int64_t msToFrames(int64_t ms, int rate) { return std::llround(double(ms) * rate / 1000.0); }
int64_t framesToMs(int64_t frames, int rate) { return rate > 0 ? std::llround(double(frames) * 1000.0 / rate) : 0; }

}  // namespace clipwren::decode
