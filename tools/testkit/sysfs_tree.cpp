#include "tools/testkit/sysfs_tree.h"

#include <fstream>
#include <system_error>

namespace qor::sim {

namespace fs = std::filesystem;

SysfsTree::path SysfsTree::usbDevicePath(const std::string& busPath) const {
    return m_root / "devices/pci0000:00/0000:00:14.0/usb1" / busPath;
}

SysfsTree::path SysfsTree::addUsbDevice(const std::string& busPath, const char* vendor,
                                        const char* product, std::optional<std::string> serial) {
    const path device = usbDevicePath(busPath);
    makeDirectories(device);
    writeAttribute(device / "idVendor", vendor);
    writeAttribute(device / "idProduct", product);
    if (serial) {
        writeAttribute(device / "serial", *serial);
    }
    return device;
}

void SysfsTree::addImager(const std::string& busPath, const std::string& tty,
                          std::optional<std::string> serial) {
    addAcmTty(addUsbDevice(busPath, "3c7b", "0e52", std::move(serial)), tty);
}

void SysfsTree::addAcmTty(const path& device, const std::string& tty, int number,
                          const char* driver) {
    const path interface = addInterface(device, number, "usb", driver);
    addTty(interface / "tty" / tty, interface);
}

void SysfsTree::addUsbSerialTty(const path& device, const std::string& tty, const char* driver) {
    const path interface = addInterface(device, 0, "usb", driver);
    const path port = interface / tty;
    makeDirectories(port);
    link(port / "driver", m_root / "bus/usb-serial/drivers" / driver);
    addTty(port / "tty" / tty, port);
}

void SysfsTree::addOtherTty(const std::string& tty, bool withDevice) {
    const path dir = m_root / "devices/virtual/tty" / tty;
    makeDirectories(dir);
    link(m_root / "class/tty" / tty, dir);
    if (withDevice) {
        const path platform = m_root / "devices/platform/serial8250";
        makeDirectories(platform);
        link(platform / "driver", m_root / "bus/platform/drivers/serial8250");
        link(dir / "device", platform);
    }
}

void SysfsTree::writeAttribute(const path& file, std::string_view text) {
    makeDirectories(file.parent_path());
    std::ofstream out(file, std::ios::trunc);
    out << text << "\n";
    m_ok = m_ok && static_cast<bool>(out.flush());
}

void SysfsTree::link(const path& link, const path& target) {
    makeDirectories(link.parent_path());
    makeDirectories(target);
    std::error_code error;
    if (fs::is_symlink(link, error)) {
        return;  // devices share their drivers
    }
    fs::create_symlink(fs::relative(target, link.parent_path()), link, error);
    m_ok = m_ok && !error;
}

SysfsTree::path SysfsTree::addInterface(const path& device, int number, const char* bus,
                                        const char* driver) {
    const path interface = device / (device.filename().string() + ":1." + std::to_string(number));
    makeDirectories(interface);
    link(interface / "driver", m_root / "bus" / bus / "drivers" / driver);
    return interface;
}

void SysfsTree::addTty(const path& ttyDir, const path& deviceDir) {
    makeDirectories(ttyDir);
    link(ttyDir / "device", deviceDir);
    link(classLink(ttyDir.filename().string()), ttyDir);
}

void SysfsTree::makeDirectories(const path& dir) {
    std::error_code error;
    fs::create_directories(dir, error);
    m_ok = m_ok && !error;
}

}  // namespace qor::sim
