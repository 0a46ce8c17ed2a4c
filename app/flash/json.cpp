#include "app/flash/json.h"

#include <cstdio>

#include "text/text_fit.h"

namespace qor {

std::string jsonString(std::string_view text) {
    // fitText with no limit that matters repairs malformed UTF-8.
    const std::string valid = fitText(text, text.size() * 3 + 1);
    std::string out = "\"";
    for (const char c : valid) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

void JsonObject::key(std::string_view name) {
    if (m_text.size() > 1) {
        m_text += ',';
    }
    m_text += jsonString(name);
    m_text += ':';
}

JsonObject& JsonObject::add(std::string_view name, std::string_view text) {
    key(name);
    m_text += jsonString(text);
    return *this;
}

JsonObject& JsonObject::addNumber(std::string_view name, int64_t number) {
    key(name);
    m_text += std::to_string(number);
    return *this;
}

JsonObject& JsonObject::addBool(std::string_view name, bool value) {
    key(name);
    m_text += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::addNull(std::string_view name) {
    key(name);
    m_text += "null";
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view name, std::string_view json) {
    key(name);
    m_text += json;
    return *this;
}

}  // namespace qor
