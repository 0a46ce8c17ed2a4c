#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "serial/registry_reader.h"

namespace qor {

// The RS-232 list always starts with COM1 to COM20; on Linux those names
// reach ttyS0 to ttyS19.
inline constexpr int kComListSize = 20;

// True when `name` is one of the ports the first kComListSize entries
// reach: "COM1".."COM20" (any case) or "ttyS0".."ttyS19".
bool comListReaches(std::string_view name);

// Natural order of port names: by the name without its trailing number,
// then by that number's value ("COM9" before "COM10", "ttyUSB2" before
// "ttyUSB10").
bool portNameBefore(std::string_view a, std::string_view b);

// The serial ports present that the first kComListSize entries do not
// reach, by the names a user knows ("COM27", "ttyUSB0"), in natural order.
// They come from the system's list of serial ports (the SERIALCOMM key, or
// the ttys with a device behind them on Linux). The ports of attached USB
// imagers are left out: those are updated in USB mode. Empty when the list
// cannot be read. UTF-8.
std::vector<std::string> ListOtherSerialPorts(RegistryReader& registry);

}  // namespace qor
