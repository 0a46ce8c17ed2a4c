#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/event_log.h"
#include "tests/support/memory_window.h"
#include "tests/support/scripted_services.h"
#include "ui/app_state.h"
#include "ui/device_rows_view.h"
#include "update/update_dialog.h"

namespace qor::testing {

// A dialog for tests of the update code: a MemoryWindow laid out as the
// dialog stands after initialisation (RS-232 checked, COM1 to COM20 with
// COM1 selected, the main button enabled, six hidden device rows labelled
// "Device: k "), the shared state with English texts, and scripted services
// (virtual time per thread, scripted lines by port name).
//
// enterSelectedMode() is recorded and carries out a reduced mode entry on
// the user-interface thread: the mode's picture, the main button and the
// port list enabled or disabled as the mode has them, and the poll timer
// started or stopped. runClosed() is counted, and a test can wait for it.
class TestDialog final : public UpdateDialog {
  public:
    struct ModeEntry {
        int radioId = 0;  // the checked radio button at the time
        bool calledOnUiThread = false;
    };

    // With `services` (which must outlive the dialog), the dialog uses them
    // instead of its scripted ones: real time and real ports, for tests over
    // pseudo-terminals.
    explicit TestDialog(Services* services = nullptr);

    Window& window() { return m_window; }
    DeviceObserver& deviceEvents() override { return m_events; }
    AppState& state() override { return m_state; }
    Services& services() override {
        return m_externalServices != nullptr ? *m_externalServices : m_services;
    }
    void enterSelectedMode() override;
    void runClosed() override;
    // "COM<n>" for the port list's selection, as the real dialog forms it.
    std::string selectedComPort() override;
    bool usbModeSelected() override;

    MemoryWindow& memoryWindow() { return m_window; }
    // The device events told so far, one line each.
    std::vector<std::string> eventLines() const { return m_events.lines(); }
    ScriptedServices& scriptedServices() { return m_services; }
    ScriptedLine& line(const std::string& name, int deviceIndex) {
        return m_services.line(name, deviceIndex);
    }
    ManualClock& clock(int deviceIndex) { return m_services.manualClock(deviceIndex); }

    // Checks `radioId` and enters its mode, as a click would; not recorded
    // as a mode entry.
    void selectMode(int radioId);

    std::vector<ModeEntry> modeEntries() const;
    // Runs reported closed, and a wait for the count to reach `count`.
    int runsClosed() const;
    bool waitForRunsClosed(int count, std::chrono::milliseconds timeout) const;

  private:
    void enterMode(int radioId);  // on the user-interface thread

    AppState m_state;
    ScriptedServices m_services;
    Services* m_externalServices = nullptr;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_closed;
    std::vector<ModeEntry> m_modeEntries;
    int m_runsClosed = 0;
    // Last, so that its thread stops first.
    MemoryWindow m_window;
    DeviceRowsView m_rows{m_window, m_state};
    EventLog m_events{m_rows};
};

}  // namespace qor::testing
