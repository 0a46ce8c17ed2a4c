#pragma once

#include <functional>
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

// The one stand-in for the system's services. By default in virtual time:
// one ManualClock per thread (the user-interface thread and each device
// index), scripted lines found by port name (a name without a line cannot be
// opened, like a port that does not exist) and a registry in memory. A test
// against simulated imagers hands parts over to the real system instead.
class ScriptedServices final : public Services {
  public:
    // The steady clock for every thread, and OpenComPort for every name
    // without a scripted line: runs against imagers on pseudo-terminals.
    void useRealTimeAndPorts() { m_real = std::make_unique<SystemServices>(); }
    // The system's registry too (QOR_SYSFS_ROOT on Linux), instead of the
    // one in memory.
    void useSystemRegistry() {
        useRealTimeAndPorts();
        m_systemRegistry = true;
    }
    // Called once, at the next look at the registry: a test's way to act
    // between a click's image check and the search for imagers.
    std::function<void()> beforeRegistry;

    Clock& clock(int deviceIndex) override {
        return m_real ? m_real->clock(deviceIndex) : manualClock(deviceIndex);
    }
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

    RegistryReader& registry() override;
    FakeRegistry& fakeRegistry() { return m_registry; }

  private:
    std::unique_ptr<SystemServices> m_real;
    bool m_systemRegistry = false;
    mutable std::mutex m_mutex;
    std::map<int, std::unique_ptr<ManualClock>> m_clocks;
    std::map<std::string, std::unique_ptr<ScriptedLine>, std::less<>> m_lines;
    FakeRegistry m_registry;
    bool m_oneClock = false;
};

}  // namespace qor::testing
