#include "text/text_fit.h"

namespace qor {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

struct Character {
    std::size_t bytes;  // how far to advance
    bool valid;         // false: a malformed sequence of `bytes` bytes
};

// Well-formed UTF-8 only: no overlong forms, no surrogates, nothing beyond
// U+10FFFF. A malformed sequence is its maximal valid prefix (at least one
// byte), the unit that gets one replacement character.
Character characterAt(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80) {
        return {1, true};
    }
    std::size_t trailing = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
    } else if (lead == 0xE0) {
        trailing = 2;
        low = 0xA0;
    } else if (lead == 0xED) {
        trailing = 2;
        high = 0x9F;
    } else if (lead >= 0xE1 && lead <= 0xEF) {
        trailing = 2;
    } else if (lead == 0xF0) {
        trailing = 3;
        low = 0x90;
    } else if (lead == 0xF4) {
        trailing = 3;
        high = 0x8F;
    } else if (lead >= 0xF1 && lead <= 0xF3) {
        trailing = 3;
    } else {
        return {1, false};
    }
    for (std::size_t i = 1; i <= trailing; ++i) {
        if (pos + i >= text.size()) {
            return {i, false};
        }
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if (next < low || next > high) {
            return {i, false};
        }
        low = 0x80;
        high = 0xBF;
    }
    return {trailing + 1, true};
}

std::size_t utf16Units(const Character& character) {
    return character.valid && character.bytes == 4 ? 2 : 1;
}

}  // namespace

std::size_t utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto character = characterAt(text, pos);
        units += utf16Units(character);
        pos += character.bytes;
    }
    return units;
}

std::string fitText(std::string_view text, std::size_t capacity) {
    std::string fitted;
    if (capacity == 0) {
        return fitted;
    }
    std::size_t room = capacity - 1;
    for (std::size_t pos = 0; pos < text.size() && text[pos] != '\0';) {
        const auto character = characterAt(text, pos);
        const auto units = utf16Units(character);
        if (units > room) {
            break;
        }
        room -= units;
        fitted += character.valid ? text.substr(pos, character.bytes) : kReplacementCharacter;
        pos += character.bytes;
    }
    return fitted;
}

void appendText(std::string& text, std::string_view more, std::size_t capacity) {
    text = fitText(text + std::string(more), capacity);
}

}  // namespace qor
