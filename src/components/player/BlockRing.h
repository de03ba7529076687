#pragma once
// The lock-free hand-over from the decode thread (single producer) to the output
// callback (single consumer): a few fixed blocks of stereo audio, each tagged with
// the run it belongs to and the source position of its first frame.
#include "components/player/AudioOutput.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace clipwren::player {

// About 11 ms at 48 kHz.
constexpr int kBlockFrames = 512;

struct AudioBlock {
    uint32_t serial = 0;      // the run (start, seek) the block belongs to
    bool endOfSound = false;  // the last block of its run
    int frames = 0;
    double sourceFrame = 0;   // source frame of the first frame
    double speed = 1;         // source frames per output frame (the tempo)
    float samples[kBlockFrames * kOutputChannels];
};

// Where the output thread left off when it met a new serial: the decode thread goes on
// from there when a run continues under that serial (a tempo change while playing), so
// the sound goes on seamlessly from the last frame handed to the output.
struct Handoff {
    std::atomic<double> frame{-1};    // source frame after the last one handed out in the run; < 0: none was
    std::atomic<uint32_t> serial{0};  // the serial met; stored last
};

class BlockRing {
public:
    // About 170 ms decoded ahead at 48 kHz: on two cores busy with compiles and flushed
    // writes the decode thread was kept waiting up to 50-70 ms at a time, and the 53 ms of
    // five blocks then ran dry (bench/player/bench_player_load). Seeks and tempo changes
    // do not wait for it: a new serial drops what is queued.
    static constexpr size_t kBlocks = 16;

    // Producer: the next free block, or nullptr while the ring is full.
    AudioBlock* writeSlot() {
        const uint64_t written = written_.load(std::memory_order_relaxed);
        if (written - read_.load(std::memory_order_acquire) == kBlocks) return nullptr;
        return &blocks_[written % kBlocks];
    }
    void publish() { written_.store(written_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

    // Consumer: the oldest filled block, or nullptr while the ring is empty.
    AudioBlock* readSlot() {
        const uint64_t read = read_.load(std::memory_order_relaxed);
        if (read == written_.load(std::memory_order_acquire)) return nullptr;
        return &blocks_[read % kBlocks];
    }
    void release() { read_.store(read_.load(std::memory_order_relaxed) + 1, std::memory_order_release); }

private:
    std::array<AudioBlock, kBlocks> blocks_{};
    alignas(64) std::atomic<uint64_t> written_{0};
    alignas(64) std::atomic<uint64_t> read_{0};
};

}  // namespace clipwren::player
