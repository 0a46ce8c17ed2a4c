#include <system_error>

#include "tests/support/open_handles.h"

namespace qor::testing {

int openHandlesOn(const std::filesystem::path& file) {
    namespace fs = std::filesystem;
    std::error_code error;
    // A descriptor's link names the file as the kernel resolved it
    // (/proc/self/mem reads /proc/PID/mem).
    const fs::path target = fs::weakly_canonical(file, error);
    if (error) {
        return 0;
    }
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
        const fs::path opened = fs::read_symlink(entry.path(), error);
        if (!error && opened == target) {
            ++count;
        }
    }
    return count;
}

}  // namespace qor::testing
