#include "tests/support/manual_pages.h"

#include <fstream>
#include <sstream>

namespace qor::testing {

std::string manualPage(std::string_view name) {
    std::ifstream in(std::string(QOR_MANUAL_DIR "/") + std::string(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

namespace {

// `text` with roff's "\-" read as a plain dash.
std::string plainDashes(std::string_view text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '-') {
            ++i;
        }
        plain += text[i];
    }
    return plain;
}

bool continuesWord(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

}  // namespace

bool namesLongOption(std::string_view text, std::string_view name) {
    return namesWord(text, "--" + std::string(name));
}

bool namesWord(std::string_view text, std::string_view word) {
    const std::string plain = plainDashes(text);
    const std::string option(word);
    for (size_t at = plain.find(option); at != std::string::npos; at = plain.find(option, at + 1)) {
        const size_t end = at + option.size();
        const bool wordBefore = at > 0 && continuesWord(plain[at - 1]);
        if (!wordBefore && (end == plain.size() || !continuesWord(plain[end]))) {
            return true;
        }
    }
    return false;
}

}  // namespace qor::testing
