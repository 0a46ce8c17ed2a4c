#include "update/run_closing.h"

#include <algorithm>

#include "ui/catalogue.h"
#include "ui/resource_ids.h"
#include "update/device_row.h"

namespace qor {

void finishUpdateWorker(UpdateDialog& dialog) {
    // The decrement orders this worker's increment of SuccessCount before
    // whatever the closing worker reads after its own decrement.
    if (dialog.state().runningWorkers.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        closeUpdateRun(dialog);
    }
}

void closeUpdateRun(UpdateDialog& dialog) {
    AppState& state = dialog.state();
    Window& window = dialog.window();
    const int devices = state.DeviceCount;

    if (state.SuccessCount.load() == state.DeviceCount) {
        window.messageBox(formatText(Situation::UpdatesSucceeded, state.UiLanguage, kTextCapacity),
                          "", kSuccessBoxType);
    }

    Rect rect = window.windowRect();
    rect.bottom -= kWindowGrowthPerDevice * devices;
    window.moveWindow(rect, true);

    // A run never has more devices than rows; ids past the last row belong
    // to other controls.
    for (int index = 0; index < std::min(devices, kMaxDeviceRows); ++index) {
        DeviceRow(window, index).hide();
    }

    window.enableItem(IDC_RADIO_USB, true);
    window.enableItem(IDC_RADIO_RS232, true);
    dialog.enterSelectedMode();
    dialog.runClosed();
}

}  // namespace qor
