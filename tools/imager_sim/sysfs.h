#pragma once

#include <filesystem>
#include <string>

namespace qor::sim {

// One simulated USB imager in a sysfs tree of its own, shaped as the kernel
// lays out a CDC ACM device (the updater finds it there with QOR_SYSFS_ROOT):
//   devices/pci0000:00/0000:00:14.0/usb1/1-<slot+1>/{idVendor,idProduct,serial}
//   .../1-<slot+1>:1.0/driver -> bus/usb/drivers/cdc_acm
//   .../1-<slot+1>:1.0/tty/ttyACM<slot>/device -> the interface
//   class/tty/ttyACM<slot> -> the tty's folder
// The class link is made last and removed first, so that a reader never
// finds half a device. Removed when the object goes: the imager unplugged.
class SysfsImager {
  public:
    // An empty serial leaves the attribute out: the device is then known by
    // its USB path.
    SysfsImager(std::filesystem::path root, unsigned slot, const std::string& serial);
    ~SysfsImager();
    SysfsImager(const SysfsImager&) = delete;
    SysfsImager& operator=(const SysfsImager&) = delete;

    bool valid() const { return m_made; }
    const std::string& error() const { return m_error; }

  private:
    std::filesystem::path m_classLink;
    std::filesystem::path m_device;
    bool m_made = false;
    std::string m_error;
};

}  // namespace qor::sim
