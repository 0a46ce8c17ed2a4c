#include <memory>
#include <system_error>
#include <thread>

#include "update/run_closing.h"
#include "update/update_worker.h"

namespace qor {

int startUpdateWorkers(UpdateDialog& dialog, uint8_t deviceCount) {
    // Before the first thread runs: a quick worker must not see itself as
    // the last of the run while the others are still being started.
    dialog.state().runningWorkers.store(deviceCount);

    int started = 0;
    for (; started < deviceCount; ++started) {
        auto args =
            std::make_unique<WorkerArgs>(WorkerArgs{&dialog, static_cast<uint8_t>(started)});
        try {
            std::thread(UpdateThreadProc, args.get()).detach();
        } catch (const std::system_error&) {
            // Out of threads: the record stays ours and is released here.
            break;
        }
        args.release();  // the worker owns it now
    }
    for (int missing = started; missing < deviceCount; ++missing) {
        finishUpdateWorker(dialog);
    }
    return started;
}

}  // namespace qor
