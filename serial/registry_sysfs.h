#pragma once

#include <filesystem>
#include <memory>

#include "serial/registry_reader.h"

namespace qor {

// The USB serial driver's two registry places, seen in a Linux sysfs tree
// rooted at `root` (normally /sys):
// - "SYSTEM\CurrentControlSet\Services\usbser\Enum" has one value per tty
//   whose device is a USB interface bound to cdc_acm, named "0", "1", ... in
//   the ttys' order (ttyACM2 before ttyACM10), with the string data
//   "USB\VID_vvvv&PID_pppp\<serial number, or the USB bus path without one>";
// - "SYSTEM\CurrentControlSet\Enum\<that path>\Device Parameters" holds
//   "PortName" = the tty's name ("ttyACM0");
// - "HARDWARE\DEVICEMAP\SERIALCOMM" has one value per tty with a device
//   behind it (UARTs that are there, usb-serial adapters, CDC ACM, rfcomm),
//   named "\Device\<tty>", with the tty's name as its data; read whole on
//   each open, as it is read only when a port list is made.
// Each open lists the tty class afresh; a tty is looked at only when its
// entry first appears there (by name and inode number): its device's numbers,
// serial and driver cannot change while the tty exists. A port name has the
// form "tty..." (or "rfcomm...", a Bluetooth serial link).
std::unique_ptr<RegistryReader> openSysfsRegistry(std::filesystem::path root);

}  // namespace qor
