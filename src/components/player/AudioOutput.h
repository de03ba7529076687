#pragma once
// Where the player's sound goes. An output calls its source from a thread of its
// own and says when each period will be heard; the factory that opens outputs is
// handed to the player, so the program chooses the sound system and tests their
// recording stand-in. Where no device opens, the player uses the silent output:
// it consumes sound in real time, so position, state and levels behave the same.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace clipwren::player {

constexpr int kOutputChannels = 2;
// The silent output's rate, and the rate asked of a device when the caller names none.
constexpr int kDefaultOutputRate = 48000;
// Marks a period whose time of hearing the output cannot tell yet.
constexpr int64_t kHeardAtUnknown = INT64_MIN;

int64_t steadyNowNs();

// Fills the output's periods with interleaved stereo float frames. Called on the
// output's thread: it must not block, wait on a contended lock or allocate.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Writes up to `frames` frames and returns how many it wrote: fewer while it has
    // nothing more to play just now. heardAtNs: the steady-clock time at which the
    // first frame will be heard, or kHeardAtUnknown.
    virtual int render(float* out, int frames, int64_t heardAtNs) = 0;
};

// An output calls its source only between play() and halt(), and never after it is destroyed.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    virtual int rate() const = 0;
    // Playing: the output asks for sound and plays it from now on.
    virtual void play() = 0;
    // Drops what is queued and not yet heard, and asks for no more until play().
    virtual void halt() = 0;
    // Drops what is queued and not yet heard, and goes on playing what comes next.
    virtual void dropQueued() = 0;
    // The device went away (the sound server ended): nothing more is heard from this output.
    virtual bool lost() const = 0;
};

class AudioOutputFactory {
public:
    virtual ~AudioOutputFactory() = default;
    // An output on `device` (0: the system's default, n: the n-th of deviceCount()) that
    // calls source from its own thread, at `rate` frames per second (0: the device's own);
    // it starts halted. nullptr when no such device can be opened.
    virtual std::unique_ptr<AudioOutput> open(AudioSource& source, int device, int rate) = 0;
    // Output devices that can be named to open(); 0 when no sound system answers.
    virtual int deviceCount() = 0;
};

// Consumes sound in real time without a device: one period per period's duration,
// paced on a steady clock, each period "heard" when it is handed out.
class SilentOutput final : public AudioOutput {
public:
    SilentOutput(AudioSource& source, int rate);
    ~SilentOutput() override;
    int rate() const override { return rate_; }
    void play() override;
    void halt() override;
    void dropQueued() override {}  // it queues nothing
    bool lost() const override { return false; }

private:
    void run(std::stop_token stop);

    AudioSource& source_;
    const int rate_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    bool playing_ = false;
    std::jthread thread_;  // last: joined before the rest goes
};

// Opens silent outputs as if they were devices: for running without sound on purpose.
class SilentOutputFactory final : public AudioOutputFactory {
public:
    std::unique_ptr<AudioOutput> open(AudioSource& source, int device, int rate) override;
    int deviceCount() override { return 0; }
};

}  // namespace clipwren::player
