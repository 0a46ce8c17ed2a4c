#pragma once

#include <string>
#include <string_view>

namespace qor {

// Device path for a port name on POSIX, or an empty string when the name
// cannot name a port (empty, too long for the device path, or carrying a
// path separator that would lead out of the device folder).
//   "/dev/ttyUSB3"  a full path, taken as it stands (the command line's form)
//   "COM3"          the port list's names map to the platform's own serial
//                   ports: COM1 is ttyS0
//   "ttyACM0"       a short name below /dev
// `portDir`, when not null, replaces /dev for every short name, COMn included,
// so that a folder of symlinks can put simulated imagers behind the very
// names the program forms.
std::string posixDevicePath(std::string_view name, const char* portDir);

// "\\.\" + name, the only form that reaches ports above COM9; empty when the
// name does not fit the 16-character device path.
std::u16string win32DevicePath(std::u16string_view name);

}  // namespace qor
