#pragma once
// What the output has handed out and when each period will be heard, published by
// the output's thread for the UI thread without locks. A device may queue many
// periods ahead of the listener, so a short history is kept: the period heard at a
// given moment is found among them. Each slot is a sequence lock: the reader retries
// while a write is under way, and gives up on a slot overwritten meanwhile.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace clipwren::player {

struct ClockReading {
    uint32_t run = 0;        // the run the period belongs to
    int64_t heardAtNs = 0;   // steady-clock time its first frame is heard
    double sourceFrame = 0;  // source frame of that first frame
    double speed = 1;        // source frames per output frame
    double limitFrame = 0;   // source frame just after its last frame
    float peakLeft = 0;      // its peak levels, 0..1
    float peakRight = 0;
};

class PlaybackClock {
public:
    // Periods are at least a few milliseconds long: this covers seconds of queued sound.
    static constexpr uint64_t kHistory = 256;

    // Output thread only.
    void publish(const ClockReading& r) {
        const uint64_t index = count_.load(std::memory_order_relaxed);
        Slot& slot = slots_[index % kHistory];
        const uint32_t seq = slot.seq.load(std::memory_order_relaxed);
        slot.seq.store(seq + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        slot.index.store(index, std::memory_order_relaxed);
        slot.run.store(r.run, std::memory_order_relaxed);
        slot.heardAtNs.store(r.heardAtNs, std::memory_order_relaxed);
        slot.sourceFrame.store(r.sourceFrame, std::memory_order_relaxed);
        slot.speed.store(r.speed, std::memory_order_relaxed);
        slot.limitFrame.store(r.limitFrame, std::memory_order_relaxed);
        slot.peakLeft.store(r.peakLeft, std::memory_order_relaxed);
        slot.peakRight.store(r.peakRight, std::memory_order_relaxed);
        slot.seq.store(seq + 2, std::memory_order_release);
        count_.store(index + 1, std::memory_order_release);
    }

    // The period of `run` heard at nowNs: the latest one heard by then; before any has
    // been heard, the earliest one kept; nothing when the run has none.
    std::optional<ClockReading> heardAt(int64_t nowNs, uint32_t run) const {
        std::optional<ClockReading> earliest;
        forEachNewestFirst(run, [&](const ClockReading& r) {
            earliest = r;
            return r.heardAtNs > nowNs;
        });
        return earliest;
    }

    // The peaks of `run` heard from fromNs up to toNs.
    std::pair<float, float> peaksHeard(int64_t fromNs, int64_t toNs, uint32_t run) const {
        std::pair<float, float> peaks{0.0f, 0.0f};
        forEachNewestFirst(run, [&](const ClockReading& r) {
            if (r.heardAtNs <= toNs) {
                peaks.first = std::max(peaks.first, r.peakLeft);
                peaks.second = std::max(peaks.second, r.peakRight);
            }
            return r.heardAtNs > fromNs;
        });
        return peaks;
    }

private:
    struct Slot {
        std::atomic<uint32_t> seq{0};
        std::atomic<uint64_t> index{0};
        std::atomic<uint32_t> run{0};
        std::atomic<int64_t> heardAtNs{0};
        std::atomic<double> sourceFrame{0};
        std::atomic<double> speed{1};
        std::atomic<double> limitFrame{0};
        std::atomic<float> peakLeft{0};
        std::atomic<float> peakRight{0};
    };

    // Calls more(reading) for the kept periods of `run`, newest first, while it returns true.
    template <typename More>
    void forEachNewestFirst(uint32_t run, More more) const {
        const uint64_t count = count_.load(std::memory_order_acquire);
        for (uint64_t index = count; index > 0 && count - index < kHistory; --index) {
            ClockReading r;
            if (!read(index - 1, r) || r.run != run || !more(r)) return;
        }
    }

    // False when the slot no longer holds period `index`.
    bool read(uint64_t index, ClockReading& r) const {
        const Slot& slot = slots_[index % kHistory];
        uint32_t before = 0;
        uint32_t after = 0;
        uint64_t held = 0;
        do {
            before = slot.seq.load(std::memory_order_acquire);
            held = slot.index.load(std::memory_order_relaxed);
            r.run = slot.run.load(std::memory_order_relaxed);
            r.heardAtNs = slot.heardAtNs.load(std::memory_order_relaxed);
            r.sourceFrame = slot.sourceFrame.load(std::memory_order_relaxed);
            r.speed = slot.speed.load(std::memory_order_relaxed);
            r.limitFrame = slot.limitFrame.load(std::memory_order_relaxed);
            r.peakLeft = slot.peakLeft.load(std::memory_order_relaxed);
            r.peakRight = slot.peakRight.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            after = slot.seq.load(std::memory_order_relaxed);
        } while (before != after || (before & 1u) != 0);
        return held == index;
    }

    std::array<Slot, kHistory> slots_{};
    std::atomic<uint64_t> count_{0};
};

}  // namespace clipwren::player
