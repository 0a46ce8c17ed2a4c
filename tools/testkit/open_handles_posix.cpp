#include <system_error>

#include "tools/testkit/open_handles.h"

namespace qor::testing {

namespace fs = std::filesystem;

namespace {

constexpr const char* kDescriptors = "/proc/self/fd";

// Calls `visit` with each descriptor's entry and the file its link names, as
// the kernel resolved it (/proc/self/mem reads /proc/PID/mem).
template <typename Visit>
void eachDescriptor(Visit&& visit) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kDescriptors, error)) {
        std::error_code unreadable;
        const fs::path target = fs::read_symlink(entry.path(), unreadable);
        if (!unreadable) {
            visit(entry.path(), target);
        }
    }
}

}  // namespace

int openHandlesOn(const fs::path& file) {
    std::error_code error;
    const fs::path target = fs::weakly_canonical(file, error);
    if (error) {
        return 0;
    }
    int count = 0;
    eachDescriptor([&](const fs::path&, const fs::path& opened) { count += opened == target; });
    return count;
}

std::vector<std::string> openDescriptorsOn(const std::vector<std::string>& paths) {
    std::vector<std::string> found;
    eachDescriptor([&](const fs::path& entry, const fs::path& target) {
        for (const std::string& path : paths) {
            // A deleted file's link reads "PATH (deleted)".
            if (target == path || target == path + " (deleted)") {
                found.push_back(entry.filename().string() + " -> " + target.string());
            }
        }
    });
    return found;
}

std::size_t openDescriptorCount() {
    std::size_t count = 0;
    std::error_code error;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(kDescriptors, error)) {
        ++count;
    }
    return count;
}

}  // namespace qor::testing
