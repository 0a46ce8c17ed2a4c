#pragma once

#include <atomic>

#include "ui/resource_ids.h"
#include "update/run_state.h"

namespace qor {

// The values the whole program shares: the run's, and what the window shows
// that more than one thread sets. The workers' rendering sets the picture,
// serialised by the atomic.
struct AppState : RunState {
    // The bitmap shown in the picture control.
    std::atomic<int> PictureBitmap{IDB_LOGO};
};

}  // namespace qor
