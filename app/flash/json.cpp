#include "app/flash/json.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "text/text_fit.h"

namespace qor {

namespace {

using Json = nlohmann::ordered_json;

// fitText with no limit that matters repairs malformed UTF-8 the way every
// other text of the program is repaired, so the library never meets a byte it
// would have to replace on its own.
std::string validUtf8(std::string_view text) {
    return fitText(text, text.size() * 3 + 1);
}

std::string dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

struct JsonObject::Members {
    Json object = Json::object();
};

std::string jsonString(std::string_view text) {
    return dump(Json(validUtf8(text)));
}

JsonObject::JsonObject() : m_members(std::make_unique<Members>()) {}
JsonObject::JsonObject(JsonObject&&) noexcept = default;
JsonObject& JsonObject::operator=(JsonObject&&) noexcept = default;
JsonObject::~JsonObject() = default;

JsonObject& JsonObject::add(std::string_view key, std::string_view text) {
    m_members->object[validUtf8(key)] = validUtf8(text);
    return *this;
}

JsonObject& JsonObject::addNumber(std::string_view key, int64_t number) {
    m_members->object[validUtf8(key)] = number;
    return *this;
}

JsonObject& JsonObject::addDecimal(std::string_view key, double number, int decimals) {
    const double scale = std::pow(10.0, decimals);
    m_members->object[validUtf8(key)] = std::round(number * scale) / scale;
    return *this;
}

JsonObject& JsonObject::addBool(std::string_view key, bool value) {
    m_members->object[validUtf8(key)] = value;
    return *this;
}

JsonObject& JsonObject::addNull(std::string_view key) {
    m_members->object[validUtf8(key)] = nullptr;
    return *this;
}

JsonObject& JsonObject::addArray(std::string_view key, const std::vector<JsonObject>& items) {
    Json array = Json::array();
    for (const JsonObject& item : items) {
        array.push_back(item.m_members->object);
    }
    m_members->object[validUtf8(key)] = std::move(array);
    return *this;
}

std::string JsonObject::str() const {
    return dump(m_members->object);
}

}  // namespace qor
