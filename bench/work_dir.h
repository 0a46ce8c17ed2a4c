#pragma once

#include <filesystem>
#include <string>

namespace qor::bench {

// A fresh folder below the system's temporary folder, removed with all it
// holds when the object goes.
class WorkDir {
  public:
    // Empty path() when no folder could be made.
    explicit WorkDir(const std::string& prefix);
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    ~WorkDir();

    const std::filesystem::path& path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};

// Lays out `root` as the kernel's sysfs shows USB imagers (see
// tools/testkit/sysfs_tree.h): each one a USB device (vendor 3c7b, product
// 0e52, a serial number) with a CDC ACM interface and its tty, named
// ttyACM0, ttyACM1, ... in the order added. False when the tree could not be
// written.
bool addSysfsImagers(const std::filesystem::path& root, unsigned count);

// Virtual consoles tty0, tty1, ... with no device behind them, as every
// Linux machine lists dozens of beside its serial ports.
bool addSysfsConsoles(const std::filesystem::path& root, unsigned count);

}  // namespace qor::bench
