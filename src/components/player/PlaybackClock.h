#pragma once
// What the output callback last handed out, published for the UI thread without
// locks (a sequence lock: the reader retries while a write is under way).
#include <atomic>
#include <cstdint>

namespace clipwren::player {

struct ClockReading {
    uint32_t serial = 0;
    bool valid = false;
    int64_t heardAtNs = 0;   // steady-clock time the first handed frame is heard
    double sourceFrame = 0;  // source frame of that first handed frame
    double speed = 1;        // source frames per output frame
    double limitFrame = 0;   // source frame just after the last handed frame
};

class PlaybackClock {
public:
    void publish(const ClockReading& r) {
        const uint32_t seq = seq_.load(std::memory_order_relaxed);
        seq_.store(seq + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        serial_.store(r.serial, std::memory_order_relaxed);
        heardAtNs_.store(r.heardAtNs, std::memory_order_relaxed);
        sourceFrame_.store(r.sourceFrame, std::memory_order_relaxed);
        speed_.store(r.speed, std::memory_order_relaxed);
        limitFrame_.store(r.limitFrame, std::memory_order_relaxed);
        seq_.store(seq + 2, std::memory_order_release);
    }

    ClockReading read() const {
        ClockReading r;
        uint32_t before = 0;
        uint32_t after = 0;
        do {
            before = seq_.load(std::memory_order_acquire);
            r.serial = serial_.load(std::memory_order_relaxed);
            r.heardAtNs = heardAtNs_.load(std::memory_order_relaxed);
            r.sourceFrame = sourceFrame_.load(std::memory_order_relaxed);
            r.speed = speed_.load(std::memory_order_relaxed);
            r.limitFrame = limitFrame_.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            after = seq_.load(std::memory_order_relaxed);
        } while (before != after || (before & 1u) != 0);
        r.valid = before != 0;
        return r;
    }

private:
    std::atomic<uint32_t> seq_{0};
    std::atomic<uint32_t> serial_{0};
    std::atomic<int64_t> heardAtNs_{0};
    std::atomic<double> sourceFrame_{0};
    std::atomic<double> speed_{1};
    std::atomic<double> limitFrame_{0};
};

}  // namespace clipwren::player
