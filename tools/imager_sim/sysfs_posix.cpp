#include "tools/imager_sim/sysfs.h"

#include <optional>
#include <system_error>

#include "tools/testkit/sysfs_tree.h"

namespace qor::sim {

namespace fs = std::filesystem;

SysfsImager::SysfsImager(fs::path root, unsigned slot, const std::string& serial) {
    const std::string busPath = "1-" + std::to_string(slot + 1);
    const std::string tty = "ttyACM" + std::to_string(slot);
    SysfsTree tree(std::move(root));
    m_device = tree.usbDevicePath(busPath);
    m_classLink = tree.classLink(tty);

    std::error_code ignored;
    fs::remove_all(m_device, ignored);  // left behind by a run that was killed
    fs::remove(m_classLink, ignored);
    // The tree makes the class link last, so a reader never finds half a device.
    tree.addImager(busPath, tty, serial.empty() ? std::nullopt : std::optional(serial));
    m_made = tree.ok();
    if (!m_made) {
        m_error = "cannot lay out " + m_device.string();
    }
}

SysfsImager::~SysfsImager() {
    std::error_code ignored;
    fs::remove(m_classLink, ignored);
    fs::remove_all(m_device, ignored);
}

}  // namespace qor::sim
