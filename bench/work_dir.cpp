#include "bench/work_dir.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include "tools/testkit/sysfs_tree.h"

namespace qor::bench {

namespace fs = std::filesystem;

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
    sim::SysfsTree tree(root);
    for (unsigned i = 0; i < count; ++i) {
        tree.addImager("1-" + std::to_string(i + 1), "ttyACM" + std::to_string(i),
                       "QB" + std::to_string(1000 + i));
    }
    return tree.ok();
}

bool addSysfsConsoles(const fs::path& root, unsigned count) {
    sim::SysfsTree tree(root);
    for (unsigned i = 0; i < count; ++i) {
        tree.addOtherTty("tty" + std::to_string(i), false);
    }
    return tree.ok();
}

}  // namespace qor::bench
