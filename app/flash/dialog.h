#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "app/flash/device_board.h"
#include "app/flash/interrupt.h"
#include "app/flash/services.h"
#include "update/run_state.h"
#include "update/update_dialog.h"

namespace qor {

// The dialog of a run without a window: the device events go to the device
// board, the shared state and the services are the command's, the mode and
// the RS-232 port are the ones named on the command line, and the command
// can wait until the run has been closed.
class ConsoleDialog final : public UpdateDialog, private DeviceObserver {
  public:
    ConsoleDialog(DeviceBoard& board, RunState& state, ConsoleServices& services,
                  Interrupt& interrupt, bool usb, std::string rs232Port)
        : m_board(board),
          m_state(state),
          m_services(services),
          m_interrupt(interrupt),
          m_usb(usb),
          m_port(std::move(rs232Port)) {}

    DeviceObserver& deviceEvents() override { return *this; }
    RunState& state() override { return m_state; }
    Services& services() override { return m_services; }
    // The command ends with its run: there is no mode to return to.
    void enterSelectedMode() override {}
    bool usbModeSelected() override { return m_usb; }
    std::string selectedComPort() override { return m_port; }
    void runClosed() override;

    // True once the run has been closed; false when `timeout` went by first.
    // Closing the run also wakes the interrupt's waiter.
    bool waitForRunClosed(std::chrono::milliseconds timeout);
    bool runIsClosed() { return waitForRunClosed(std::chrono::milliseconds(0)); }

  private:
    // DeviceObserver: what the board follows of each device.
    void workerStarted(int /*device*/) override {}
    void connecting(int device, std::string_view /*port*/, int unansweredWaits) override {
        m_board.connecting(device, unansweredWaits);
    }
    void transferStarted(int device, uint32_t /*totalBytes*/) override {
        m_board.transferStarted(device);
    }
    void blockSent(int device, uint32_t bytesSent, uint32_t /*totalBytes*/) override {
        m_board.blockSent(device, bytesSent);
    }
    void checking(int device) override { m_board.checking(device); }
    void updating(int device, int /*step*/) override { m_board.updating(device); }
    void updateWaitMissed(int device, int unansweredWaits) override {
        m_board.updateWaitMissed(device, unansweredWaits);
    }
    void updateEnded(int /*device*/) override {}
    void succeeded(int device) override { m_board.succeeded(device); }
    void failed(int device, Situation situation, std::string_view text) override;
    void portReleased(int /*device*/, bool /*transferStarted*/) override {}
    void runClosing(int devices, bool allSucceeded) override;

    DeviceBoard& m_board;
    RunState& m_state;
    ConsoleServices& m_services;
    Interrupt& m_interrupt;
    const bool m_usb;
    const std::string m_port;

    std::mutex m_mutex;
    std::condition_variable m_closedChanged;
    bool m_closed = false;
};

}  // namespace qor
