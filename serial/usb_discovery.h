#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "serial/registry_reader.h"

namespace qor {

// The imager's vendor and product numbers as the USB serial driver writes
// them into its instance paths. Matched case-sensitively.
inline constexpr std::u16string_view UsbHardwareId = u"VID_3C7B&PID_0E52";

// Port names of the attached USB imagers in the order the registry lists
// them, UTF-8, each at most 15 characters ("COM7", "ttyACM0"). Entry i is the
// port that worker i opens. Only CollectUsbPorts writes it, and it never
// clears it: an entry it does not write keeps what it held.
inline constexpr std::size_t kPortNameTableSize = 8;
using PortNameTable = std::array<std::string, kPortNameTableSize>;

// Number of attached imagers, 0 when the USB serial driver's list cannot be
// read. Saturates at 255. Reads one key and allocates nothing, so the
// 250 ms poll can call it freely.
uint8_t CountUsbDevices(RegistryReader& registry);

// Finds the port name of each attached imager (at most 8) and writes it into
// `table`. Returns the number of imagers gone through, whether or not each
// yielded a name; 0 when the list cannot be read, no imager is listed, or the
// parameters key of any of them cannot be read (entries written before that
// one stay written).
uint8_t CollectUsbPorts(RegistryReader& registry, PortNameTable& table);

// The collection an update run starts from: every entry is cleared first and
// the collection fails (0) unless each imager gone through got its name, so
// that no worker opens a port left over from an earlier collection, which
// may now belong to another device.
uint8_t CollectUsbPortsForRun(RegistryReader& registry, PortNameTable& table);

}  // namespace qor
