#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "tests/support/temp_dir.h"

namespace qor::testing {

// A sysfs tree shaped as the kernel lays it out, links relative as there:
//   class/tty/ttyACM0 -> ../../devices/.../usb1/1-1/1-1:1.0/tty/ttyACM0
//   .../tty/ttyACM0/device -> ../../../1-1:1.0      (the USB interface)
//   1-1:1.0/driver -> ../../../../../../bus/usb/drivers/cdc_acm
//   1-1/idVendor, idProduct, serial                 (the USB device)
// A usb-serial adapter's tty hangs below its port device instead:
//   class/tty/ttyUSB0/device -> ../../../ttyUSB0    (1-2:1.0/ttyUSB0)
class FakeSysfs {
  public:
    using path = std::filesystem::path;
    const path& root() const { return m_dir.path(); }

    path addUsbDevice(const std::string& busPath, const char* vendor, const char* product,
                      std::optional<std::string> serial) {
        const path device = m_dir / ("devices/pci0000:00/0000:00:14.0/usb1/" + busPath);
        std::filesystem::create_directories(device);
        writeAttribute(device / "idVendor", vendor);
        writeAttribute(device / "idProduct", product);
        if (serial) {
            writeAttribute(device / "serial", *serial);
        }
        return device;
    }

    // An imager (vendor 3c7b, product 0e52) with one CDC ACM tty.
    void addImager(const std::string& busPath, const std::string& tty,
                   std::optional<std::string> serial = std::nullopt) {
        addAcmTty(addUsbDevice(busPath, "3c7b", "0e52", std::move(serial)), tty);
    }

    // A tty on interface `number` of `device`, bound to `driver`.
    void addAcmTty(const path& device, const std::string& tty, int number = 0,
                   const char* driver = "cdc_acm") {
        const path interface = addInterface(device, number, "usb", driver);
        addTty(interface / "tty" / tty, interface);
    }

    void addUsbSerialTty(const path& device, const std::string& tty, const char* driver) {
        const path interface = addInterface(device, 0, "usb", driver);
        const path port = interface / tty;
        std::filesystem::create_directories(port);
        link(port / "driver", m_dir / "bus/usb-serial/drivers" / driver);
        addTty(port / "tty" / tty, port);
    }

    // A tty with no device behind it, like tty0, or one on a platform device.
    void addOtherTty(const std::string& tty, bool withDevice) {
        const path platform = m_dir / "devices/platform/serial8250";
        std::filesystem::create_directories(platform);
        link(platform / "driver", m_dir / "bus/platform/drivers/serial8250");
        const path dir = m_dir / "devices/virtual/tty" / tty;
        std::filesystem::create_directories(dir);
        link(m_dir / "class/tty" / tty, dir);
        if (withDevice) {
            link(dir / "device", platform);
        }
    }

    void writeAttribute(const path& file, std::string_view text) {
        m_dir.write(std::filesystem::relative(file, root()).string(), std::string(text) + "\n");
    }

    void link(const path& link, const path& target) {
        std::filesystem::create_directories(link.parent_path());
        std::filesystem::create_directories(target);
        if (std::filesystem::is_symlink(link)) {
            return;  // devices share their drivers
        }
        std::filesystem::create_symlink(std::filesystem::relative(target, link.parent_path()),
                                        link);
    }

  private:
    path addInterface(const path& device, int number, const char* bus, const char* driver) {
        const path interface =
            device / (device.filename().string() + ":1." + std::to_string(number));
        std::filesystem::create_directories(interface);
        link(interface / "driver", m_dir / "bus" / bus / "drivers" / driver);
        return interface;
    }

    void addTty(const path& ttyDir, const path& deviceDir) {
        std::filesystem::create_directories(ttyDir);
        link(ttyDir / "device", deviceDir);
        link(m_dir / "class/tty" / ttyDir.filename(), ttyDir);
    }

    TempDir m_dir;
};

}  // namespace qor::testing
