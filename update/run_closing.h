#pragma once

#include "update/update_dialog.h"

namespace qor {

// Counts a worker of the current run as ended; the last one to end closes
// the run. Called once per worker, after its own end steps, and by the
// starter for every worker that could not be started. Touches nothing of the
// dialog unless it closes the run: the dialog may be gone once the last
// worker is done.
void finishUpdateWorker(UpdateDialog& dialog);

// Closes the run: tells the front end how it ended (it shows the outcome and
// puts its controls back before it returns), enters the selected mode anew,
// then tells the dialog that the run is closed.
void closeUpdateRun(UpdateDialog& dialog);

}  // namespace qor
