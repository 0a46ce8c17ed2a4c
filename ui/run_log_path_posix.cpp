#include <cstdlib>

#include "ui/run_log_path.h"

namespace qor {

std::filesystem::path runLogPath() {
    // XDG_STATE_HOME counts only as an absolute path; a relative one is
    // passed over, as every desktop program does.
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
