#pragma once

#include "ui/app_state.h"
#include "ui/window.h"
#include "update/device_events.h"

namespace qor {

// The dialog's rendering of the device events: each one becomes the control
// calls the window has always seen at that step (row texts, dots, bar range
// and position, rows shown and hidden, message boxes), made on the calling
// thread. Holds no state of its own, so workers of one run may call it at
// once.
class DeviceRowsView final : public DeviceObserver {
  public:
    DeviceRowsView(Window& window, AppState& state) : m_window(window), m_state(state) {}

    void workerStarted(int device) override;
    void connecting(int device, std::string_view port, int unansweredWaits) override;
    void transferStarted(int device, uint32_t totalBytes) override;
    void blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) override;
    void checking(int device) override;
    void updating(int device, int step) override;
    void updateWaitMissed(int device, int unansweredWaits) override;
    void updateEnded(int device) override;
    void succeeded(int device) override;
    void failed(int device, Situation situation, std::string_view text) override;
    void portReleased(int device, bool transferStarted) override;
    void runClosing(int devices, bool allSucceeded) override;

  private:
    std::string text(Situation situation, std::initializer_list<TextArg> args = {}) const;

    Window& m_window;
    AppState& m_state;
};

}  // namespace qor
