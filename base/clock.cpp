#include "base/clock.h"

#include <chrono>
#include <thread>

namespace qor {

uint32_t SteadyClock::now_ms() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    // Truncation to 32 bits is the tick counter's own wrap-around.
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

uint64_t SteadyClock::now_us() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

void SteadyClock::sleep_ms(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace qor
