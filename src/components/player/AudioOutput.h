#pragma once
// Where the player's sound goes: an SDL output device, or a silent output that
// consumes sound at the same real-time rate where no device opens (or when
// CLIPWREN_AUDIO=silent). Both call the source from their own thread.
#include <cstdint>
#include <memory>

namespace clipwren::player {

constexpr int kOutputChannels = 2;

// Fills the output's periods with interleaved stereo float frames. Called on the
// output's thread: it must not block, wait on a contended lock or allocate.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    virtual void render(float* out, int frames) = 0;
};

class AudioOutput {
public:
    // device 0 is the system's default device, n >= 1 the n-th listed device.
    // Never fails: falls back to the silent output.
    static std::unique_ptr<AudioOutput> open(AudioSource& source, int device);
    // Output devices that can be named to open(); 0 when no sound system is available.
    static int deviceCount();

    virtual ~AudioOutput() = default;
    virtual int rate() const = 0;
    // Frames handed out earlier that are still queued ahead of a period just handed out.
    virtual int latencyFrames() const = 0;
    virtual bool silent() const = 0;
};

}  // namespace clipwren::player
