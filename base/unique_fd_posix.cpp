#include <unistd.h>

#include "base/unique_fd.h"

namespace qor {

void UniqueFd::reset(int fd) {
    if (m_fd >= 0) {
        // A close interrupted by a signal has still released the descriptor
        // on Linux; retrying could close somebody else's.
        ::close(m_fd);
    }
    m_fd = fd;
}

}  // namespace qor
