#include "update/image_path.h"

#include <string>

namespace qor {

std::filesystem::path imagePathFromUtf8(std::string_view utf8) {
    try {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    } catch (const std::exception&) {
        // Windows converts to UTF-16 here and refuses malformed sequences.
        return {};
    }
}

}  // namespace qor
