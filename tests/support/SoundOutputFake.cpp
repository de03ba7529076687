#include "SoundOutputFake.h"

#include <cmath>
#include <cstring>

namespace testsupport {

using clipwren::player::AudioOutput;
using clipwren::player::AudioSource;

// A silent output whose source is a recording proxy of the player's.
class RecordingOutputs::Output final : public AudioOutput, private AudioSource {
public:
    Output(RecordingOutputs& owner, AudioSource& source, int rate, std::shared_ptr<std::atomic<bool>> lost)
        : owner_(owner), source_(source), lost_(std::move(lost)), paced_(*this, rate) {}
    int rate() const override { return paced_.rate(); }
    void play() override { paced_.play(); }
    void halt() override { paced_.halt(); }
    void dropQueued() override {}
    bool lost() const override { return lost_->load(); }

private:
    int render(float* out, int frames, int64_t heardAtNs) override {
        if (lost_->load()) return 0;  // nothing is heard from a device that went away
        const int written = source_.render(out, frames, heardAtNs);
        owner_.record(out, written);
        return written;
    }

    RecordingOutputs& owner_;
    AudioSource& source_;
    std::shared_ptr<std::atomic<bool>> lost_;
    clipwren::player::SilentOutput paced_;  // last: its thread ends first
};

RecordingOutputs::RecordingOutputs(int64_t capacityFrames)
    : samples_(size_t(capacityFrames) * 2), deviceLost_(std::make_shared<std::atomic<bool>>(false)) {}

RecordingOutputs::~RecordingOutputs() = default;

std::unique_ptr<AudioOutput> RecordingOutputs::open(AudioSource& source, int, int rate) {
    std::shared_ptr<std::atomic<bool>> lost;
    {
        std::lock_guard lock(deviceMutex_);
        if (!available_) return nullptr;
        lost = deviceLost_;
    }
    auto output = std::make_unique<Output>(*this, source, rate, std::move(lost));
    rate_.store(output->rate());
    return output;
}

void RecordingOutputs::loseDevice() {
    std::lock_guard lock(deviceMutex_);
    available_ = false;
    deviceLost_->store(true);
    deviceLost_ = std::make_shared<std::atomic<bool>>(false);
}

void RecordingOutputs::restoreDevice() {
    std::lock_guard lock(deviceMutex_);
    available_ = true;
}

void RecordingOutputs::record(const float* samples, int frames) {
    if (frames <= 0) return;
    const int64_t have = frames_.load(std::memory_order_relaxed);
    const int64_t take = std::min<int64_t>(frames, int64_t(samples_.size() / 2) - have);
    if (take > 0) {
        std::memcpy(samples_.data() + have * 2, samples, size_t(take) * 2 * sizeof(float));
        frames_.store(have + take, std::memory_order_release);
    }
    handed_.fetch_add(frames, std::memory_order_release);
}

int64_t RecordingOutputs::firstAbove(float threshold, int64_t from) const {
    const int64_t n = frames();
    for (int64_t f = from; f < n; ++f)
        if (std::fabs(samples_[size_t(f * 2)]) >= threshold || std::fabs(samples_[size_t(f * 2 + 1)]) >= threshold)
            return f;
    return -1;
}

}  // namespace testsupport
