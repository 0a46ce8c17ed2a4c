#include "serial/serial_port_list.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <utility>

#include "serial/usb_discovery.h"
#include "serial/usb_registry_paths.h"

namespace qor {

namespace {

// A port name's longest form, and a value name's (MAX_PATH).
constexpr std::size_t kDataChars = 256;
constexpr std::size_t kNameChars = 260;

// The name without its trailing digits, and those digits without leading
// zeros.
std::pair<std::string_view, std::string_view> splitNumber(std::string_view name) {
    std::size_t digits = name.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])) != 0) {
        --digits;
    }
    std::string_view number = name.substr(digits);
    while (number.size() > 1 && number.front() == '0') {
        number.remove_prefix(1);
    }
    return {name.substr(0, digits), number};
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Port names are ASCII; anything else is no name the list can show.
std::string narrowAscii(std::u16string_view text) {
    std::string name;
    for (char16_t c : text) {
        if (c <= u' ' || c >= 0x7F) {
            return {};
        }
        name += static_cast<char>(c);
    }
    return name;
}

}  // namespace

bool comListReaches(std::string_view name) {
    const auto [stem, number] = splitNumber(name);
    // A number written with leading zeros names no port of the list.
    if (number.empty() || number.size() != name.size() - stem.size()) {
        return false;
    }
    unsigned value = 0;
    std::from_chars(number.data(), number.data() + number.size(), value);
    if (equalsIgnoringCase(stem, "COM")) {
        return value >= 1 && value <= static_cast<unsigned>(kComListSize);
    }
    return stem == "ttyS" && value < static_cast<unsigned>(kComListSize);
}

bool portNameBefore(std::string_view a, std::string_view b) {
    const auto [stemA, numberA] = splitNumber(a);
    const auto [stemB, numberB] = splitNumber(b);
    if (stemA != stemB) {
        return stemA < stemB;
    }
    if (numberA.size() != numberB.size()) {
        return numberA.size() < numberB.size();
    }
    if (numberA != numberB) {
        return numberA < numberB;
    }
    return a < b;
}

std::vector<std::string> ListOtherSerialPorts(RegistryReader& registry) {
    std::vector<std::string> imagerPorts;
    if (const auto imagers = ListUsbImagers(registry)) {
        for (const UsbImager& imager : *imagers) {
            imagerPorts.push_back(imager.port);
        }
    }

    std::vector<std::string> ports;
    RegistryKey key = registry.openKey(kSerialCommPath.data());
    if (!key) {
        return ports;
    }
    std::array<char16_t, kNameChars> name{};
    std::array<char16_t, kDataChars> data{};
    for (uint32_t index = 0;; ++index) {
        RegistryValueInfo info;
        const RegistryResult result = key.enumValue(index, name, data, info);
        if (result == RegistryResult::MoreData) {
            continue;  // no port has a name that long
        }
        if (result != RegistryResult::Ok) {
            break;  // the end, or a list that changed under the walk
        }
        if (info.type != registry_type::kString) {
            continue;
        }
        std::u16string_view text(data.data(),
                                 std::min<std::size_t>(info.dataBytes / 2, data.size()));
        text = text.substr(0, text.find(u'\0'));
        std::string port = narrowAscii(text);
        if (port.empty() || !registry.isPortName(text) || comListReaches(port) ||
            std::find(imagerPorts.begin(), imagerPorts.end(), port) != imagerPorts.end() ||
            std::find(ports.begin(), ports.end(), port) != ports.end()) {
            continue;
        }
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(),
              [](const std::string& a, const std::string& b) { return portNameBefore(a, b); });
    return ports;
}

}  // namespace qor
