#pragma once

#include <atomic>
#include <cstdint>

#include "base/clock.h"

namespace qor {

// Virtual time for tests: nothing passes unless somebody advances it. A sleep
// advances the clock by its length at once, so a test of a one-minute wait
// runs in microseconds and every limit can be checked to the millisecond.
// Thread-safe, but meant to be driven by one thread at a time.
class ManualClock final : public Clock {
  public:
    explicit ManualClock(uint32_t start_ms = 0) : m_now(start_ms) {}

    uint32_t now_ms() override { return m_now.load(); }
    void sleep_ms(uint32_t ms) override;

    void advance(uint32_t ms) { m_now.fetch_add(ms); }
    void set(uint32_t ms) { m_now.store(ms); }

    // Total time spent in sleep_ms, and the number of sleeps, so tests can
    // tell the pauses of a protocol from the waiting in between.
    uint64_t slept_ms() const { return m_slept.load(); }
    uint32_t sleeps() const { return m_sleeps.load(); }

  private:
    std::atomic<uint32_t> m_now;
    std::atomic<uint64_t> m_slept{0};
    std::atomic<uint32_t> m_sleeps{0};
};

}  // namespace qor
