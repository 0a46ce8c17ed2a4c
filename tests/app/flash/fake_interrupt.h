#pragma once

#include <atomic>

#include "app/flash/interrupt.h"

namespace qor::testing {

// Ctrl-C at the test's command; waits never block.
class FakeInterrupt final : public Interrupt {
  public:
    void request() { m_requested.store(true); }
    bool requested() const override { return m_requested.load(); }
    bool waitUnlessRequested(uint32_t) override { return requested(); }
    bool waitForRequestOrWake(uint32_t) override { return requested(); }
    void wake() override {}

  private:
    std::atomic<bool> m_requested{false};
};

}  // namespace qor::testing
