#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qor {

// `text` as a JSON string literal, quotes included. The texts are UTF-8 and
// pass through as they are; quotes, backslashes and control characters are
// escaped, and a byte that is not part of valid UTF-8 becomes U+FFFD so that
// every line stays valid JSON.
std::string jsonString(std::string_view text);

// One JSON object, built member by member in the order given.
class JsonObject {
  public:
    JsonObject();
    JsonObject(JsonObject&&) noexcept;
    JsonObject& operator=(JsonObject&&) noexcept;
    ~JsonObject();

    JsonObject& add(std::string_view key, std::string_view text);
    JsonObject& add(std::string_view key, const char* text) {
        return add(key, std::string_view(text));
    }
    JsonObject& addNumber(std::string_view key, int64_t number);
    // A measured quantity, written with at most `decimals` places.
    JsonObject& addDecimal(std::string_view key, double number, int decimals);
    JsonObject& addBool(std::string_view key, bool value);
    JsonObject& addNull(std::string_view key);
    JsonObject& addArray(std::string_view key, const std::vector<JsonObject>& items);

    std::string str() const;

  private:
    struct Members;
    std::unique_ptr<Members> m_members;
};

}  // namespace qor
