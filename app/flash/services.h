#pragma once

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "app/flash/stop_control.h"
#include "app/flash/stoppable_line.h"
#include "serial/registry_reader.h"
#include "update/services.h"

namespace qor {

// The system's services for a run from the command line: real ports and
// real time, each port and clock able to stop at a safe point after Ctrl-C,
// and a memory of why a port would not open, for the message that follows.
//
// A worker asks for its clock first of all, on its own thread; that is how
// the services (and through them the window) tell which device a thread
// works for. The user-interface thread is device Services::kUiThread.
class ConsoleServices final : public Services {
  public:
    explicit ConsoleServices(StopControl& stop);

    Clock& clock(int deviceIndex) override;
    PortHandle openComPort(std::string_view name, uint32_t baud) override;
    RegistryReader& registry() override { return *m_registry; }

    // The device the calling thread works for; kUiThread for any other thread.
    int currentDevice() const;
    // Why the last port opened on the calling thread would not open, once;
    // nothing when it opened.
    std::optional<OpenFailure> takeOpenFailure();

  private:
    StopControl& m_stop;
    std::unique_ptr<RegistryReader> m_registry = openSystemRegistry();
    // One clock per device and one for the user-interface thread (slot 0).
    std::array<std::unique_ptr<StoppableClock>, kMaxDeviceRows + 1> m_clocks;

    mutable std::mutex m_mutex;
    std::map<std::thread::id, int> m_threadDevices;
    std::map<std::thread::id, OpenFailure> m_openFailures;
};

}  // namespace qor
