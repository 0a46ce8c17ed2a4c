#include "serial/com_port_name.h"

#include <charconv>

#include "serial/serial_port.h"

namespace qor {

namespace {

// "COM" followed by a decimal number from 1 up, without leading zeros.
bool parseComNumber(std::string_view name, unsigned& number) {
    if (name.size() < 4 || name.substr(0, 3) != "COM" || name[3] == '0') {
        return false;
    }
    const char* first = name.data() + 3;
    const char* last = name.data() + name.size();
    auto [end, ec] = std::from_chars(first, last, number);
    return ec == std::errc() && end == last && number >= 1;
}

}  // namespace

std::string posixDevicePath(std::string_view name, const char* portDir) {
    if (!name.empty() && name.front() == '/') {
        return std::string(name);
    }
    if (name.empty() || name.size() > kMaxPortNameLength ||
        name.find('/') != std::string_view::npos || name == "." || name == "..") {
        return {};
    }
    if (portDir != nullptr && portDir[0] != '\0') {
        std::string path(portDir);
        if (path.back() != '/') {
            path += '/';
        }
        return path + std::string(name);
    }
    unsigned number = 0;
    if (parseComNumber(name, number)) {
        return "/dev/ttyS" + std::to_string(number - 1);
    }
    return "/dev/" + std::string(name);
}

std::u16string win32DevicePath(std::u16string_view name) {
    if (name.empty() || name.size() > kMaxPortNameLength ||
        name.find(u'\0') != std::u16string_view::npos) {
        return {};
    }
    return u"\\\\.\\" + std::u16string(name);
}

}  // namespace qor
