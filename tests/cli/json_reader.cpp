#include "tests/cli/json_reader.h"

#include <cstdlib>

namespace qor::testing {

namespace {

class Reader {
  public:
    explicit Reader(std::string_view text) : m_text(text) {}

    std::optional<JsonValue> document() {
        std::optional<JsonValue> result = value();
        skipSpace();
        if (!result || m_pos != m_text.size()) {
            return std::nullopt;
        }
        return result;
    }

  private:
    void skipSpace() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
                                         m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
            ++m_pos;
        }
    }

    bool literal(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) != word) {
            return false;
        }
        m_pos += word.size();
        return true;
    }

    std::optional<JsonValue> value() {
        skipSpace();
        if (m_pos >= m_text.size()) {
            return std::nullopt;
        }
        const char c = m_text[m_pos];
        if (c == '{') {
            return object();
        }
        if (c == '[') {
            return array();
        }
        if (c == '"') {
            auto s = string();
            return s ? std::optional<JsonValue>(JsonValue{*s}) : std::nullopt;
        }
        if (literal("null")) {
            return JsonValue{nullptr};
        }
        if (literal("true")) {
            return JsonValue{true};
        }
        if (literal("false")) {
            return JsonValue{false};
        }
        return number();
    }

    std::optional<JsonValue> number() {
        const size_t start = m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '-') {
            ++m_pos;
        }
        const size_t digits = m_pos;
        while (m_pos < m_text.size() &&
               (std::isdigit(static_cast<unsigned char>(m_text[m_pos])) || m_text[m_pos] == '.' ||
                m_text[m_pos] == 'e' || m_text[m_pos] == 'E' || m_text[m_pos] == '+' ||
                m_text[m_pos] == '-')) {
            ++m_pos;
        }
        if (m_pos == digits || !std::isdigit(static_cast<unsigned char>(m_text[digits]))) {
            return std::nullopt;
        }
        const std::string token(m_text.substr(start, m_pos - start));
        char* end = nullptr;
        const double parsed = std::strtod(token.c_str(), &end);
        if (end != token.c_str() + token.size()) {
            return std::nullopt;
        }
        return JsonValue{parsed};
    }

    std::optional<std::string> string() {
        ++m_pos;  // the opening quote
        std::string out;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return std::nullopt;  // control characters must be escaped
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size()) {
                return std::nullopt;
            }
            const char e = m_text[m_pos++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    if (m_pos + 4 > m_text.size()) {
                        return std::nullopt;
                    }
                    const std::string hex(m_text.substr(m_pos, 4));
                    char* end = nullptr;
                    const long code = std::strtol(hex.c_str(), &end, 16);
                    if (end != hex.c_str() + 4) {
                        return std::nullopt;
                    }
                    m_pos += 4;
                    // The output escapes control characters only.
                    out += static_cast<char>(code < 0x80 ? code : '?');
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<JsonValue> array() {
        ++m_pos;
        JsonValue::Array items;
        skipSpace();
        if (literal("]")) {
            return JsonValue{items};
        }
        for (;;) {
            auto item = value();
            if (!item) {
                return std::nullopt;
            }
            items.push_back(*item);
            skipSpace();
            if (literal("]")) {
                return JsonValue{items};
            }
            if (!literal(",")) {
                return std::nullopt;
            }
        }
    }

    std::optional<JsonValue> object() {
        ++m_pos;
        JsonValue::Object members;
        skipSpace();
        if (literal("}")) {
            return JsonValue{members};
        }
        for (;;) {
            skipSpace();
            if (m_pos >= m_text.size() || m_text[m_pos] != '"') {
                return std::nullopt;
            }
            auto key = string();
            skipSpace();
            if (!key || !literal(":")) {
                return std::nullopt;
            }
            auto member = value();
            if (!member) {
                return std::nullopt;
            }
            members[*key] = *member;
            skipSpace();
            if (literal("}")) {
                return JsonValue{members};
            }
            if (!literal(",")) {
                return std::nullopt;
            }
        }
    }

    std::string_view m_text;
    size_t m_pos = 0;
};

}  // namespace

std::optional<JsonValue> readJson(std::string_view text) {
    return Reader(text).document();
}

}  // namespace qor::testing
