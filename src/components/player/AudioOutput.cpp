#include "components/player/AudioOutput.h"

#include <SDL2/SDL.h>
#include <QByteArray>
#include <QtGlobal>
#include <chrono>
#include <thread>
#include <vector>

namespace clipwren::player {

namespace {

constexpr int kFallbackRate = 48000;
// About 21 ms at 48 kHz: short enough for a responsive position, long enough not to starve.
constexpr int kPeriodFrames = 1024;

bool silentRequested() { return qgetenv("CLIPWREN_AUDIO") == "silent"; }

// Holds one reference on SDL's audio subsystem.
struct SdlAudioSubsystem {
    bool ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    SdlAudioSubsystem() = default;
    SdlAudioSubsystem(const SdlAudioSubsystem&) = delete;
    SdlAudioSubsystem& operator=(const SdlAudioSubsystem&) = delete;
    ~SdlAudioSubsystem() {
        if (ok) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
};

// One open SDL output device.
struct SdlDevice {
    SDL_AudioDeviceID id = 0;
    SdlDevice() = default;
    SdlDevice(const SdlDevice&) = delete;
    SdlDevice& operator=(const SdlDevice&) = delete;
    ~SdlDevice() {
        if (id != 0) SDL_CloseAudioDevice(id);  // waits for a running callback to return
    }
};

class SdlOutput final : public AudioOutput {
public:
    static std::unique_ptr<SdlOutput> open(AudioSource& source, int device) {
        auto output = std::make_unique<SdlOutput>();
        if (!output->subsystem_.ok) return nullptr;

        const char* deviceName = nullptr;
        SDL_AudioSpec preferred{};
        if (device > 0) {
            if (device > SDL_GetNumAudioDevices(0)) return nullptr;
            deviceName = SDL_GetAudioDeviceName(device - 1, 0);
            if (!deviceName || SDL_GetAudioDeviceSpec(device - 1, 0, &preferred) != 0) preferred.freq = 0;
        } else {
            char* defaultName = nullptr;
            if (SDL_GetDefaultAudioInfo(&defaultName, &preferred, 0) != 0) preferred.freq = 0;
            SDL_free(defaultName);
        }

        SDL_AudioSpec want{};
        want.freq = preferred.freq > 0 ? preferred.freq : kFallbackRate;
        want.format = AUDIO_F32SYS;
        want.channels = kOutputChannels;
        want.samples = kPeriodFrames;
        want.callback = &SdlOutput::callback;
        want.userdata = &source;
        SDL_AudioSpec have{};
        const SDL_AudioDeviceID id =
            SDL_OpenAudioDevice(deviceName, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (id == 0) return nullptr;
        output->device_.id = id;
        output->rate_ = have.freq;
        output->latency_ = have.samples;
        SDL_PauseAudioDevice(id, 0);
        return output;
    }

    int rate() const override { return rate_; }
    int latencyFrames() const override { return latency_; }
    bool silent() const override { return false; }

private:
    static void SDLCALL callback(void* userdata, Uint8* stream, int bytes) {
        static_cast<AudioSource*>(userdata)->render(reinterpret_cast<float*>(stream),
                                                    bytes / int(sizeof(float) * kOutputChannels));
    }

    SdlAudioSubsystem subsystem_;
    SdlDevice device_;  // closed before the subsystem is released
    int rate_ = 0;
    int latency_ = 0;
};

// Consumes sound in real time without a device: one period per period's duration,
// paced on a steady clock so position and levels behave as with a device.
class SilentOutput final : public AudioOutput {
public:
    explicit SilentOutput(AudioSource& source)
        : source_(source), thread_([this](std::stop_token stop) { run(stop); }) {}

    int rate() const override { return kFallbackRate; }
    // The period handed out is "heard" from the moment it is handed out.
    int latencyFrames() const override { return 0; }
    bool silent() const override { return true; }

private:
    void run(std::stop_token stop) {
        using clock = std::chrono::steady_clock;
        std::vector<float> period(size_t(kPeriodFrames) * kOutputChannels);
        const auto periodLength = std::chrono::nanoseconds(int64_t(kPeriodFrames) * 1'000'000'000 / kFallbackRate);
        auto next = clock::now();
        while (!stop.stop_requested()) {
            source_.render(period.data(), kPeriodFrames);
            next += periodLength;
            const auto now = clock::now();
            // After a long stall, carry on from now rather than rushing to catch up.
            if (now - next > 4 * periodLength) next = now;
            std::this_thread::sleep_until(next);
        }
    }

    AudioSource& source_;
    std::jthread thread_;  // last: joined before the rest goes
};

}  // namespace

std::unique_ptr<AudioOutput> AudioOutput::open(AudioSource& source, int device) {
    if (!silentRequested()) {
        if (auto output = SdlOutput::open(source, device)) return output;
    }
    return std::make_unique<SilentOutput>(source);
}

int AudioOutput::deviceCount() {
    if (silentRequested()) return 0;
    SdlAudioSubsystem subsystem;
    return subsystem.ok ? std::max(0, SDL_GetNumAudioDevices(0)) : 0;
}

}  // namespace clipwren::player
