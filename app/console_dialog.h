#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "ui/device_rows_view.h"
#include "ui/resource_ids.h"
#include "update/update_dialog.h"

namespace qor {

// The dialog of a run without a window: the console window, the shared
// state, the services, the RS-232 port named on the command line, and a way
// for the command to wait until the run has been closed.
class ConsoleDialog final : public UpdateDialog {
  public:
    ConsoleDialog(Window& window, AppState& state, Services& services, std::string rs232Port)
        : m_window(window),
          m_state(state),
          m_services(services),
          m_port(std::move(rs232Port)),
          m_rows(window, state) {}

    DeviceObserver& deviceEvents() override { return m_rows; }
    AppState& state() override { return m_state; }
    Services& services() override { return m_services; }
    // The command ends with its run: there is no mode to return to.
    void enterSelectedMode() override {}
    bool usbModeSelected() override {
        return m_window.checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232) == IDC_RADIO_USB;
    }
    std::string selectedComPort() override { return m_port; }
    void runClosed() override;

    // True once the run has been closed; false when `timeout` went by first.
    bool waitForRunClosed(std::chrono::milliseconds timeout);

  private:
    Window& m_window;
    AppState& m_state;
    Services& m_services;
    const std::string m_port;
    DeviceRowsView m_rows;

    std::mutex m_mutex;
    std::condition_variable m_closedChanged;
    bool m_closed = false;
};

}  // namespace qor
