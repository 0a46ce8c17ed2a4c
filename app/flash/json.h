#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qor {

// `text` as a JSON string literal, quotes included. The texts are UTF-8 and
// pass through as they are; quotes, backslashes and control characters are
// escaped, and a byte that is not part of valid UTF-8 becomes U+FFFD so that
// every line stays valid JSON.
std::string jsonString(std::string_view text);

// One JSON object, built member by member in the order given.
class JsonObject {
  public:
    JsonObject& add(std::string_view key, std::string_view text);
    JsonObject& add(std::string_view key, const char* text) {
        return add(key, std::string_view(text));
    }
    JsonObject& addNumber(std::string_view key, int64_t number);
    JsonObject& addBool(std::string_view key, bool value);
    JsonObject& addNull(std::string_view key);
    // `json` must already be valid JSON (an array or object built here).
    JsonObject& addRaw(std::string_view key, std::string_view json);

    std::string str() const { return m_text + "}"; }

  private:
    void key(std::string_view name);

    std::string m_text = "{";
};

}  // namespace qor
