#pragma once

#include "update/update_dialog.h"

namespace qor {

// Counts a worker of the current run as ended; the last one to end closes
// the run. Called once per worker, after its own end steps, and by the
// starter for every worker that could not be started. Touches nothing of the
// dialog unless it closes the run: the dialog may be gone once the last
// worker is done.
void finishUpdateWorker(UpdateDialog& dialog);

// Closes the run: the success box when every device succeeded (the rest
// waits until it has been closed), the window shortened by the rows it grew
// by, every row hidden, the radio buttons enabled again and the selected mode
// entered anew; then the dialog is told that the run is closed.
void closeUpdateRun(UpdateDialog& dialog);

}  // namespace qor
