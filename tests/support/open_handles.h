#pragma once

#include <filesystem>

namespace qor::testing {

// How many of this process's descriptors (POSIX) or handles (Windows) lead
// to `file`, a file, folder or device; 0 when it is not there. A check that
// some code closed what it opened, which other threads' own comings and
// goings do not disturb, as they would a count of every handle.
int openHandlesOn(const std::filesystem::path& file);

}  // namespace qor::testing
