#include "update/run_closing.h"

namespace qor {

void finishUpdateWorker(UpdateDialog& dialog) {
    // The decrement orders this worker's increment of SuccessCount before
    // whatever the closing worker reads after its own decrement.
    if (dialog.state().runningWorkers.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        closeUpdateRun(dialog);
    }
}

void closeUpdateRun(UpdateDialog& dialog) {
    const RunState& state = dialog.state();
    dialog.deviceEvents().runClosing(state.DeviceCount,
                                     state.SuccessCount.load() == state.DeviceCount);
    dialog.enterSelectedMode();
    dialog.runClosed();
}

}  // namespace qor
