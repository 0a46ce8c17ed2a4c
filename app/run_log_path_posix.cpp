#include <cstdlib>

#include "app/run_log_path.h"

namespace qor {

std::filesystem::path runLogPath() {
    // The base directory specification has a relative path ignored.
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME");
        xdg != nullptr && std::filesystem::path(xdg).is_absolute()) {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        state = std::filesystem::path(home) / ".local" / "state";
    } else {
        return {};
    }
    return state / "qor-updater" / "runs.csv";
}

}  // namespace qor
