#pragma once

#include <string_view>

#include "base/clock.h"
#include "serial/registry_reader.h"
#include "serial/serial_port.h"

namespace qor {

// The operating system's services that the update code uses, so that tests
// can put virtual time and scripted lines in their place.
class Services {
  public:
    // Index passed by the user-interface thread; workers pass their device index.
    static constexpr int kUiThread = -1;

    virtual ~Services() = default;

    // The clock of the calling thread.
    virtual Clock& clock(int deviceIndex) = 0;

    // The one way a port is opened: OpenComPort, or a stand-in.
    virtual PortHandle openComPort(std::string_view name, uint32_t baud) = 0;

    // Where the attached USB imagers are listed. Used on the user-interface
    // thread only.
    virtual RegistryReader& registry() = 0;
};

// The real thing: the steady clock and OpenComPort.
class SystemServices final : public Services {
  public:
    Clock& clock(int /*deviceIndex*/) override { return m_clock; }
    PortHandle openComPort(std::string_view name, uint32_t baud) override {
        return OpenComPort(name, baud);
    }
    RegistryReader& registry() override { return *m_registry; }

  private:
    SteadyClock m_clock;
    std::unique_ptr<RegistryReader> m_registry = openSystemRegistry();
};

}  // namespace qor
