#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "base/manual_clock.h"
#include "tests/support/fake_registry.h"
#include "tests/support/scripted_port.h"
#include "update/services.h"

namespace qor::testing {

// Services in virtual time: one ManualClock per thread (the user-interface
// thread and each device index), and scripted lines found by port name. A
// name without a line cannot be opened, like a port that does not exist.
class ScriptedServices final : public Services {
  public:
    Clock& clock(int deviceIndex) override { return manualClock(deviceIndex); }
    ManualClock& manualClock(int deviceIndex);
    // From now on every thread shares the user-interface thread's clock:
    // for a line that the handshake and then a worker use, one after the
    // other.
    void useOneClock() { m_oneClock = true; }

    // The line behind `name`, created on first use with the clock of
    // `deviceIndex`, which is the clock its reads advance.
    ScriptedLine& line(const std::string& name, int deviceIndex);
    bool hasLine(const std::string& name) const;

    PortHandle openComPort(std::string_view name, uint32_t baud) override;

    RegistryReader& registry() override { return m_registry; }
    FakeRegistry& fakeRegistry() { return m_registry; }

  private:
    mutable std::mutex m_mutex;
    std::map<int, std::unique_ptr<ManualClock>> m_clocks;
    std::map<std::string, std::unique_ptr<ScriptedLine>, std::less<>> m_lines;
    FakeRegistry m_registry;
    bool m_oneClock = false;
};

}  // namespace qor::testing
