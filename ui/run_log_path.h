#pragma once

#include <filesystem>

namespace qor {

// Where the window keeps its log of runs: runs.csv in the program's folder
// of the user's state, $XDG_STATE_HOME/qor-updater (~/.local/state/qor-updater
// when it is not set) on Linux and %LOCALAPPDATA%\Qor imager updater on
// Windows. Empty when the system names no such place.
std::filesystem::path runLogPath();

}  // namespace qor
