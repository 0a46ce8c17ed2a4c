#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qor::testing {

// A JSON value, read strictly (RFC 8259), so that a test can tell whether a
// line of output is JSON at all and look into it.
struct JsonValue {
    using Array = std::vector<JsonValue>;
    using Object = std::map<std::string, JsonValue>;
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> value;

    bool isNull() const { return std::holds_alternative<std::nullptr_t>(value); }
    const std::string& text() const { return std::get<std::string>(value); }
    double number() const { return std::get<double>(value); }
    const Array& array() const { return std::get<Array>(value); }
    const Object& object() const { return std::get<Object>(value); }
    // The member `key` of an object; throws when absent.
    const JsonValue& operator[](const std::string& key) const { return object().at(key); }
    bool has(const std::string& key) const {
        return std::holds_alternative<Object>(value) && object().count(key) != 0;
    }
};

// The value `text` holds, nothing when it is not exactly one JSON value.
std::optional<JsonValue> readJson(std::string_view text);

}  // namespace qor::testing
