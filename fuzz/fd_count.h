#pragma once

#include <cstddef>
#include <filesystem>

namespace qor::fuzz {

// Descriptors open in this process right now, to tell a leak.
inline std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

}  // namespace qor::fuzz
