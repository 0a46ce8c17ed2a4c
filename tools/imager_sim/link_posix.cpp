#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tools/imager_sim/link.h"

namespace qor::sim {

PortLink::PortLink(std::string link, const std::string& target) : m_link(std::move(link)) {
    struct stat existing {};
    if (lstat(m_link.c_str(), &existing) == 0 && S_ISLNK(existing.st_mode)) {
        unlink(m_link.c_str());
    }
    m_made = symlink(target.c_str(), m_link.c_str()) == 0;
    m_error = m_made ? 0 : errno;
}

PortLink::~PortLink() {
    if (m_made) {
        unlink(m_link.c_str());
    }
}

}  // namespace qor::sim
