#pragma once

#include <string>
#include <string_view>

namespace qor {

// The program keeps its texts in UTF-8; Windows takes and gives UTF-16.
// These two are the one place where the two meet.

// Empty when `utf8` is empty or not valid UTF-8: a malformed text must not
// reach a file or port name half converted.
std::wstring widenUtf8(std::string_view utf8);

// Unpaired surrogates become U+FFFD, as Windows converts them.
std::string narrowToUtf8(std::wstring_view wide);

}  // namespace qor
