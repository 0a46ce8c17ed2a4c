#pragma once

#include <string>

#include "update/device_events.h"
#include "update/run_state.h"
#include "update/services.h"

namespace qor {

// What the RS-232 handshake and the update workers see of the dialog that
// started them. The dialog outlives every worker it starts.
class UpdateDialog {
  public:
    virtual ~UpdateDialog() = default;

    // Where the workers and the handshake tell what happens to each device.
    virtual DeviceObserver& deviceEvents() = 0;
    virtual RunState& state() = 0;
    virtual Services& services() = 0;

    // Enters the mode whose radio button is checked, as a click on it would,
    // on the user-interface thread; returns when it has been done.
    virtual void enterSelectedMode() = 0;

    // True when the run is over USB (its radio button is checked), read on
    // the calling thread.
    virtual bool usbModeSelected() = 0;

    // The RS-232 port the user chose ("COM5" for the fifth entry of the port
    // list), read on the calling thread through the window; empty when none
    // is chosen.
    virtual std::string selectedComPort() = 0;

    // Called once per run by the worker that closed it, after the closing
    // (runClosing told, mode entered) is complete and as its
    // very last use of the dialog: from here on the dialog may be closed.
    virtual void runClosed() = 0;
};

}  // namespace qor
