#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace qor::testing {

PtyPair::PtyPair() {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    // A program the test starts must not inherit the line's ends: one that
    // held the master would keep the line up after hangUp().
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    m_master.reset(master);
    m_slave.reset(slave);
    m_slavePath = name;
    // Raw on the far end too, so no byte is translated on its way.
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);
}

void PtyPair::send(const std::string& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master.get(), bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            throw std::runtime_error("write to pty master failed");
        }
        done += static_cast<size_t>(n);
    }
}

std::string PtyPair::receive(int wait_ms) const {
    std::string got;
    pollfd pfd{m_master.get(), POLLIN, 0};
    while (::poll(&pfd, 1, wait_ms) > 0 && (pfd.revents & POLLIN)) {
        char buffer[4096];
        const ssize_t n = ::read(m_master.get(), buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        got.append(buffer, static_cast<size_t>(n));
        wait_ms = 20;  // whatever else is on its way comes right behind
    }
    return got;
}

void PtyPair::hangUp() {
    m_slave.reset();
    m_master.reset();
}

}  // namespace qor::testing
