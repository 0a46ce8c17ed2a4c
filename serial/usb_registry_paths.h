#pragma once

#include <string_view>

namespace qor {

// Where Windows keeps the USB serial driver's records and its list of
// serial ports, below HKEY_LOCAL_MACHINE. Every backend lays its view out in
// these places.

// The list of device instances the driver serves; each value's data is an
// instance path below kDeviceEnumPrefix. Null-terminated (a literal), so its
// data() can be handed to RegistryReader::openKey.
inline constexpr std::u16string_view kUsbSerialListPath =
    u"SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";

// kDeviceEnumPrefix + instance path + kDeviceParametersSuffix holds the value
// named kPortNameValue with the port assigned to the instance.
inline constexpr std::u16string_view kDeviceEnumPrefix = u"SYSTEM\\CurrentControlSet\\Enum\\";
inline constexpr std::u16string_view kDeviceParametersSuffix = u"\\Device Parameters";
inline constexpr std::u16string_view kPortNameValue = u"PortName";

// Every serial port the system has, one value each: the data is the port's
// name ("COM27"). Null-terminated.
inline constexpr std::u16string_view kSerialCommPath = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";

}  // namespace qor
