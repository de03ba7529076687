#include "components/player/OutputTap.h"

#include <atomic>

namespace clipwren::player {

namespace {
std::atomic<OutputTap*> currentTap{nullptr};
}

void setOutputTap(OutputTap* tap) { currentTap.store(tap, std::memory_order_release); }
OutputTap* outputTap() { return currentTap.load(std::memory_order_acquire); }

}  // namespace clipwren::player
