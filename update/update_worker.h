#pragma once

#include <cstdint>

#include "update/update_dialog.h"

namespace qor {

// The record handed to one update worker. The starter allocates it with
// `new`; the worker copies both fields at once and deletes it.
struct WorkerArgs {
    UpdateDialog* dialog = nullptr;
    uint8_t deviceIndex = 0;  // 0 to DeviceCount - 1: the events' device and, over USB, the port
};

// The body of one update worker: takes one imager through the whole token
// exchange, tells the dialog's device events each step as it happens (a
// failure included), counts a success in SuccessCount, and closes the run
// when it is the last worker of the run to end. `parameter` is a WorkerArgs record. Returns 1.
unsigned UpdateThreadProc(void* parameter);

// Starts one detached worker per device, device indexes in ascending order.
// The count of running workers is set to `deviceCount` before the first one
// starts. A thread that cannot be started, and every one after it, is
// counted as ended at once, so the run still closes. Returns the number of
// workers started.
int startUpdateWorkers(UpdateDialog& dialog, uint8_t deviceCount);

}  // namespace qor
