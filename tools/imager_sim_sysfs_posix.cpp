#include "tools/imager_sim_sysfs.h"

#include <fstream>
#include <system_error>

namespace qor::sim {

namespace fs = std::filesystem;

namespace {

bool writeAttribute(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::trunc);
    out << text << "\n";
    return static_cast<bool>(out.flush());
}

// A relative link, as sysfs makes them; one already there is kept (devices
// share their driver's folder).
void linkTo(const fs::path& link, const fs::path& target, std::error_code& error) {
    if (error) {
        return;
    }
    fs::create_directories(link.parent_path(), error);
    fs::create_directories(target, error);
    if (!error && !fs::is_symlink(link)) {
        fs::create_symlink(fs::relative(target, link.parent_path()), link, error);
    }
}

}  // namespace

SysfsImager::SysfsImager(fs::path root, unsigned slot, const std::string& serial) {
    const std::string busPath = "1-" + std::to_string(slot + 1);
    const std::string tty = "ttyACM" + std::to_string(slot);
    m_device = root / "devices/pci0000:00/0000:00:14.0/usb1" / busPath;
    m_classLink = root / "class/tty" / tty;
    const fs::path interface = m_device / (busPath + ":1.0");
    const fs::path ttyDir = interface / "tty" / tty;

    std::error_code error;
    fs::remove_all(m_device, error);  // left behind by a run that was killed
    fs::remove(m_classLink, error);
    error.clear();
    fs::create_directories(ttyDir, error);
    if (!error && (!writeAttribute(m_device / "idVendor", "3c7b") ||
                   !writeAttribute(m_device / "idProduct", "0e52") ||
                   (!serial.empty() && !writeAttribute(m_device / "serial", serial)))) {
        error = std::make_error_code(std::errc::io_error);
    }
    linkTo(interface / "driver", root / "bus/usb/drivers/cdc_acm", error);
    linkTo(ttyDir / "device", interface, error);
    linkTo(m_classLink, ttyDir, error);
    m_made = !error;
    if (error) {
        m_error = "cannot lay out " + m_device.string() + ": " + error.message();
    }
}

SysfsImager::~SysfsImager() {
    std::error_code ignored;
    fs::remove(m_classLink, ignored);
    fs::remove_all(m_device, ignored);
}

}  // namespace qor::sim
