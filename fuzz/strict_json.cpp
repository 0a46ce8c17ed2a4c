#include "fuzz/strict_json.h"

#include <cstddef>
#include <cstdint>

namespace qor::fuzz {

namespace {

class Validator {
  public:
    explicit Validator(std::string_view text) : m_text(text) {}

    bool document() {
        space();
        if (!value(0)) {
            return false;
        }
        space();
        return m_pos == m_text.size();
    }

  private:
    static constexpr int kMaxDepth = 64;

    bool atEnd() const { return m_pos >= m_text.size(); }
    unsigned char peek() const { return atEnd() ? 0 : static_cast<unsigned char>(m_text[m_pos]); }

    bool take(char c) {
        if (atEnd() || m_text[m_pos] != c) {
            return false;
        }
        ++m_pos;
        return true;
    }

    void space() {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')) {
            ++m_pos;
        }
    }

    bool word(std::string_view w) {
        if (m_text.substr(m_pos, w.size()) != w) {
            return false;
        }
        m_pos += w.size();
        return true;
    }

    bool value(int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        switch (peek()) {
            case '{':
                return object(depth + 1);
            case '[':
                return array(depth + 1);
            case '"':
                return string();
            case 't':
                return word("true");
            case 'f':
                return word("false");
            case 'n':
                return word("null");
            default:
                return number();
        }
    }

    bool digits() {
        const std::size_t start = m_pos;
        while (peek() >= '0' && peek() <= '9') {
            ++m_pos;
        }
        return m_pos > start;
    }

    bool number() {
        take('-');
        if (take('0')) {
            // no leading zeros
        } else if (peek() >= '1' && peek() <= '9') {
            digits();
        } else {
            return false;
        }
        if (take('.') && !digits()) {
            return false;
        }
        if (peek() == 'e' || peek() == 'E') {
            ++m_pos;
            if (!take('+')) {
                take('-');
            }
            if (!digits()) {
                return false;
            }
        }
        return true;
    }

    bool hex4(uint32_t& code) {
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned char c = peek();
            uint32_t digit;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                return false;
            }
            code = code << 4 | digit;
            ++m_pos;
        }
        return true;
    }

    bool escape() {
        const unsigned char e = peek();
        ++m_pos;
        switch (e) {
            case '"':
            case '\\':
            case '/':
            case 'b':
            case 'f':
            case 'n':
            case 'r':
            case 't':
                return true;
            case 'u': {
                uint32_t code;
                if (!hex4(code)) {
                    return false;
                }
                if (code >= 0xDC00 && code <= 0xDFFF) {
                    return false;  // a low surrogate on its own
                }
                if (code >= 0xD800 && code <= 0xDBFF) {
                    uint32_t low;
                    return take('\\') && take('u') && hex4(low) && low >= 0xDC00 && low <= 0xDFFF;
                }
                return true;
            }
            default:
                return false;
        }
    }

    // One UTF-8 sequence of two to four bytes, shortest form, no surrogates,
    // nothing above U+10FFFF.
    bool utf8Sequence() {
        const unsigned char lead = peek();
        int more;
        uint32_t code;
        uint32_t least;
        if (lead >= 0xC2 && lead <= 0xDF) {
            more = 1, code = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            more = 2, code = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            more = 3, code = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        ++m_pos;
        for (int i = 0; i < more; ++i) {
            const unsigned char c = peek();
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (c & 0x3F);
            ++m_pos;
        }
        return code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    }

    bool string() {
        ++m_pos;  // the opening quote
        for (;;) {
            if (atEnd()) {
                return false;
            }
            const unsigned char c = peek();
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c < 0x20) {
                return false;
            }
            if (c == '\\') {
                ++m_pos;
                if (!escape()) {
                    return false;
                }
            } else if (c < 0x80) {
                ++m_pos;
            } else if (!utf8Sequence()) {
                return false;
            }
        }
    }

    bool array(int depth) {
        ++m_pos;
        space();
        if (take(']')) {
            return true;
        }
        for (;;) {
            space();
            if (!value(depth)) {
                return false;
            }
            space();
            if (take(']')) {
                return true;
            }
            if (!take(',')) {
                return false;
            }
        }
    }

    bool object(int depth) {
        ++m_pos;
        space();
        if (take('}')) {
            return true;
        }
        for (;;) {
            space();
            if (peek() != '"' || !string()) {
                return false;
            }
            space();
            if (!take(':')) {
                return false;
            }
            space();
            if (!value(depth)) {
                return false;
            }
            space();
            if (take('}')) {
                return true;
            }
            if (!take(',')) {
                return false;
            }
        }
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace

bool isStrictJson(std::string_view text) {
    return Validator(text).document();
}

bool isStrictJsonObject(std::string_view text) {
    return !text.empty() && text.front() == '{' && isStrictJson(text);
}

}  // namespace qor::fuzz
