#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/flash/platform.h"

namespace qor {

void prepareProcess() {
    // Without this a write to a closed pipe kills the process with SIGPIPE,
    // with a device half-written; ignored, the write fails and the run goes on.
    ::signal(SIGPIPE, SIG_IGN);
}

bool stdoutIsTerminal() {
    if (::isatty(STDOUT_FILENO) == 0) {
        return false;
    }
    const char* term = std::getenv("TERM");
    return term != nullptr && std::string_view(term) != "dumb";
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::string printableBarcodePath() {
    // PREFIX/bin/qor-flash beside PREFIX/share/qor-updater/.
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    const std::filesystem::path file =
        (program.parent_path() / ".." / "share" / "qor-updater" / "update-barcode.png")
            .lexically_normal();
    return std::filesystem::is_regular_file(file, error) ? file.string() : std::string();
}

}  // namespace qor
