#include "components/player/AudioOutput.h"

#include <chrono>
#include <vector>

namespace clipwren::player {

namespace {
// About 21 ms at 48 kHz: the position moves on in steps no coarser than a timer tick.
constexpr int kPeriodFrames = 1024;
}  // namespace

int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

SilentOutput::SilentOutput(AudioSource& source, int rate)
    : source_(source), rate_(rate > 0 ? rate : kDefaultOutputRate), thread_([this](std::stop_token stop) {
          run(stop);
      }) {}

// The thread's wait ends when its stop is requested.
SilentOutput::~SilentOutput() = default;

void SilentOutput::play() {
    {
        std::lock_guard lock(mutex_);
        playing_ = true;
    }
    wake_.notify_all();
}

void SilentOutput::halt() {
    std::lock_guard lock(mutex_);
    playing_ = false;
}

void SilentOutput::run(std::stop_token stop) {
    using clock = std::chrono::steady_clock;
    std::vector<float> period(size_t(kPeriodFrames) * kOutputChannels);
    const auto periodLength = std::chrono::nanoseconds(int64_t(kPeriodFrames) * 1'000'000'000 / rate_);
    auto next = clock::now();
    while (!stop.stop_requested()) {
        {
            std::unique_lock lock(mutex_);
            if (!playing_) {
                wake_.wait(lock, stop, [this] { return playing_; });
                next = clock::now();
            }
        }
        if (stop.stop_requested()) break;
        source_.render(period.data(), kPeriodFrames, steadyNowNs());
        next += periodLength;
        const auto now = clock::now();
        // After a long stall, carry on from now rather than rushing to catch up.
        if (now - next > 4 * periodLength) next = now;
        std::this_thread::sleep_until(next);
    }
}

std::unique_ptr<AudioOutput> SilentOutputFactory::open(AudioSource& source, int, int rate) {
    return std::make_unique<SilentOutput>(source, rate);
}

}  // namespace clipwren::player
