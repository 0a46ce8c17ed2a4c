#pragma once

#include <cstdint>

namespace qor {

// Millisecond ticks with the semantics of a 32-bit tick counter: the value
// wraps around after about 49.7 days, so callers compare ticks only by
// unsigned difference (now - start), which stays right across the wrap.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint32_t now_ms() = 0;
    virtual void sleep_ms(uint32_t ms) = 0;
    // The same time in microseconds, 64 bits wide, for what a millisecond
    // tick cannot resolve: a byte at 921600 baud lasts 11 us. A clock that
    // only has ticks answers with the tick's start.
    virtual uint64_t now_us() { return static_cast<uint64_t>(now_ms()) * 1000; }
};

// The machine's monotonic clock.
class SteadyClock final : public Clock {
  public:
    uint32_t now_ms() override;
    void sleep_ms(uint32_t ms) override;
    uint64_t now_us() override;
};

}  // namespace qor
