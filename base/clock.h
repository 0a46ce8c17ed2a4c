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
};

// The machine's monotonic clock.
class SteadyClock final : public Clock {
  public:
    uint32_t now_ms() override;
    void sleep_ms(uint32_t ms) override;
};

}  // namespace qor
