#include "tools/testkit/json_reader.h"

#include <nlohmann/json.hpp>

namespace qor::testing {

namespace {

JsonValue convert(const nlohmann::json& json) {
    switch (json.type()) {
        case nlohmann::json::value_t::boolean:
            return {json.get<bool>()};
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
        case nlohmann::json::value_t::number_float:
            return {json.get<double>()};
        case nlohmann::json::value_t::string:
            return {json.get<std::string>()};
        case nlohmann::json::value_t::array: {
            JsonValue::Array array;
            for (const nlohmann::json& item : json) {
                array.push_back(convert(item));
            }
            return {std::move(array)};
        }
        case nlohmann::json::value_t::object: {
            JsonValue::Object object;
            for (const auto& [key, item] : json.items()) {
                object.emplace(key, convert(item));
            }
            return {std::move(object)};
        }
        default:
            return {nullptr};
    }
}

}  // namespace

std::optional<JsonValue> readJson(std::string_view text) {
    // Without exceptions: what is not one whole JSON value comes back
    // discarded. The parser keeps to RFC 8259: valid UTF-8, escaped control
    // characters, paired surrogates, JSON's own number grammar, no comments
    // and no trailing commas.
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) {
        return std::nullopt;
    }
    return convert(json);
}

}  // namespace qor::testing
