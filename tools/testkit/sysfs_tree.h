#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qor::sim {

// Lays out a folder as the kernel's sysfs shows serial ports, so that the
// updater's USB discovery finds simulated imagers (point QOR_SYSFS_ROOT at
// it). Links are relative, as the kernel makes them:
//   class/tty/ttyACM0 -> ../../devices/.../usb1/1-1/1-1:1.0/tty/ttyACM0
//   .../tty/ttyACM0/device -> ../../../1-1:1.0      (the USB interface)
//   1-1:1.0/driver -> ../../../../../../bus/usb/drivers/cdc_acm
//   1-1/idVendor, idProduct, serial                 (the USB device)
// A usb-serial adapter's tty hangs below its port device instead:
//   class/tty/ttyUSB0/device -> ../../../ttyUSB0    (1-2:1.0/ttyUSB0)
// Shared by the benchmark and the tests. ok() turns false for good at the
// first file or link that could not be made.
class SysfsTree {
  public:
    using path = std::filesystem::path;

    explicit SysfsTree(path root) : m_root(std::move(root)) {}

    const path& root() const { return m_root; }
    bool ok() const { return m_ok; }

    // Where addUsbDevice puts the device at `busPath` ("1-2").
    path usbDevicePath(const std::string& busPath) const;
    // Where addTty puts the class link of `tty`.
    path classLink(const std::string& tty) const { return m_root / "class/tty" / tty; }

    path addUsbDevice(const std::string& busPath, const char* vendor, const char* product,
                      std::optional<std::string> serial);
    // An imager (vendor 3c7b, product 0e52) with one CDC ACM tty.
    void addImager(const std::string& busPath, const std::string& tty,
                   std::optional<std::string> serial = std::nullopt);
    // A tty on interface `number` of `device`, bound to `driver`.
    void addAcmTty(const path& device, const std::string& tty, int number = 0,
                   const char* driver = "cdc_acm");
    void addUsbSerialTty(const path& device, const std::string& tty, const char* driver);
    // A tty with no device behind it, like tty0, or one on a platform device.
    void addOtherTty(const std::string& tty, bool withDevice);

    void writeAttribute(const path& file, std::string_view text);
    void link(const path& link, const path& target);

  private:
    path addInterface(const path& device, int number, const char* bus, const char* driver);
    void addTty(const path& ttyDir, const path& deviceDir);
    void makeDirectories(const path& dir);

    path m_root;
    bool m_ok = true;
};

}  // namespace qor::sim
