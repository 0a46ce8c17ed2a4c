#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace qor::testing {

// How many of this process's descriptors (POSIX) or handles (Windows) lead
// to `file`, a file, folder or device; 0 when it is not there. A check that
// some code closed what it opened, which other threads' own comings and
// goings do not disturb, as they would a count of every handle.
int openHandlesOn(const std::filesystem::path& file);

#ifndef _WIN32
// Every descriptor of this process that leads to one of `paths`, as
// "fd -> target", for a failure message; a file deleted while open counts.
std::vector<std::string> openDescriptorsOn(const std::vector<std::string>& paths);

// Every descriptor open in this process right now: a leak check for a
// program with one thread, such as a fuzz target.
std::size_t openDescriptorCount();
#endif

}  // namespace qor::testing
