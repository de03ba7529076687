#pragma once
// The sound system's stand-in for tests: outputs that consume sound in real time as
// the silent output does and record what they are handed, on a device the test can
// take away and give back.
#include "components/player/AudioOutput.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace testsupport {

class RecordingOutputs final : public clipwren::player::AudioOutputFactory {
public:
    // Records the first capacityFrames frames handed to its outputs, one after another.
    explicit RecordingOutputs(int64_t capacityFrames = 0);
    ~RecordingOutputs() override;

    std::unique_ptr<clipwren::player::AudioOutput> open(clipwren::player::AudioSource& source, int device,
                                                        int rate) override;
    int deviceCount() override { return 1; }

    // The device goes away: open outputs are lost, and no new one opens until it is back.
    void loseDevice();
    void restoreDevice();

    int64_t frames() const { return frames_.load(std::memory_order_acquire); }
    // Frames ever handed over, also past the capacity.
    int64_t handedFrames() const { return handed_.load(std::memory_order_acquire); }
    int rate() const { return rate_.load(); }
    float sample(int64_t frame, int channel) const { return samples_[size_t(frame * 2 + channel)]; }
    // First recorded frame from `from` on whose magnitude reaches threshold, or -1.
    int64_t firstAbove(float threshold, int64_t from = 0) const;

private:
    class Output;
    void record(const float* samples, int frames);

    std::vector<float> samples_;
    std::atomic<int64_t> frames_{0};
    std::atomic<int64_t> handed_{0};
    std::atomic<int> rate_{0};
    // The player opens outputs from a thread of its own while it retries a lost device.
    std::mutex deviceMutex_;
    bool available_ = true;
    std::shared_ptr<std::atomic<bool>> deviceLost_;
};

}  // namespace testsupport
