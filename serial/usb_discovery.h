#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One attached imager and what tells it apart from every other: its USB
// instance, the last part of its instance path. That is the device's serial
// number where it has a usable one, else its place of attachment (the USB
// path such as "1-1.2" on Linux, the id Windows makes of the hub port). UTF-8.
struct UsbImager {
    std::string instance;
    std::string port;  // empty while the driver has not named a port for it

    bool operator==(const UsbImager&) const = default;
};

// Every attached imager in the registry's order, with no limit on their
// number. Whether an imager is there is the driver's list alone; its port is
// read beside it and may be missing for a moment while a device comes or
// goes. Empty when the list does not exist; nullopt when reading it failed
// part-way (a device unplugged during the walk), so that a caller never
// takes half a list for the whole.
std::optional<std::vector<UsbImager>> ListUsbImagers(RegistryReader& registry);

// The collection an update run starts from: every entry is cleared first and
// the collection fails (0) unless each imager gone through got its name, so
// that no worker opens a port left over from an earlier collection, which
// may now belong to another device.
uint8_t CollectUsbPortsForRun(RegistryReader& registry, PortNameTable& table);

// The USB instance (as UsbImager::instance) of each entry of a PortNameTable,
// UTF-8, of any length.
using UsbInstanceTable = std::array<std::string, kPortNameTableSize>;

// The same collection, which also writes each imager's instance, read in the
// same walk as its port, into `instances` (cleared first).
uint8_t CollectUsbPortsForRun(RegistryReader& registry, PortNameTable& table,
                              UsbInstanceTable& instances);

// The ports of imagers just counted may not be listed yet: a run looks this
// many times, this far apart, before it gives up on them.
inline constexpr int kPortCheckAttempts = 4;
inline constexpr uint32_t kPortCheckPauseMs = 250;

}  // namespace qor
