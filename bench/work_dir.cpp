#include "bench/work_dir.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace qor::bench {

namespace fs = std::filesystem;

namespace {

bool writeAttribute(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::trunc);
    out << text << "\n";
    return static_cast<bool>(out.flush());
}

// Relative, as the kernel makes its links.
bool linkTo(const fs::path& link, const fs::path& target) {
    std::error_code error;
    fs::create_directories(link.parent_path(), error);
    fs::create_directories(target, error);
    if (fs::is_symlink(link, error)) {
        return true;  // devices share their driver
    }
    fs::create_symlink(fs::relative(target, link.parent_path()), link, error);
    return !error;
}

}  // namespace

WorkDir::WorkDir(const std::string& prefix) {
    std::error_code error;
    std::string pattern = (fs::temp_directory_path(error) / (prefix + "XXXXXX")).string();
    if (!error && mkdtemp(pattern.data()) != nullptr) {
        m_path = pattern;
    }
}

WorkDir::~WorkDir() {
    if (!m_path.empty()) {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
}

bool addSysfsImagers(const fs::path& root, unsigned count) {
    std::error_code error;
    const fs::path driver = root / "bus/usb/drivers/cdc_acm";
    for (unsigned i = 0; i < count; ++i) {
        const std::string bus_path = "1-" + std::to_string(i + 1);
        const std::string tty = "ttyACM" + std::to_string(i);
        const fs::path device = root / "devices/pci0000:00/0000:00:14.0/usb1" / bus_path;
        const fs::path interface = device / (bus_path + ":1.0");
        const fs::path tty_dir = interface / "tty" / tty;
        fs::create_directories(tty_dir, error);
        if (error || !writeAttribute(device / "idVendor", "3c7b") ||
            !writeAttribute(device / "idProduct", "0e52") ||
            !writeAttribute(device / "serial", "QB" + std::to_string(1000 + i)) ||
            !linkTo(interface / "driver", driver) || !linkTo(tty_dir / "device", interface) ||
            !linkTo(root / "class/tty" / tty, tty_dir)) {
            return false;
        }
    }
    return true;
}

bool addSysfsConsoles(const fs::path& root, unsigned count) {
    for (unsigned i = 0; i < count; ++i) {
        const std::string tty = "tty" + std::to_string(i);
        if (!linkTo(root / "class/tty" / tty, root / "devices/virtual/tty" / tty)) {
            return false;
        }
    }
    return true;
}

}  // namespace qor::bench
