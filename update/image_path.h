#pragma once

#include <filesystem>
#include <string_view>

namespace qor {

// A path from the program's UTF-8 text. On Windows a narrow path would be
// read in the ANSI code page, so the text is passed on as UTF-8 explicitly.
// A text that is not valid UTF-8 gives an empty path, which opens nothing.
std::filesystem::path imagePathFromUtf8(std::string_view utf8);

}  // namespace qor
