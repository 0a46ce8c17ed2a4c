#include <fcntl.h>
#include <pty.h>
#include <termios.h>

#include <cerrno>

#include "tools/imager_sim/baud.h"
#include "tools/imager_sim/pty.h"

namespace qor::sim {

PtyLine::PtyLine() {
    // Raw from the start: a fresh pty echoes and waits for whole lines, and
    // until the program sets the line up the imager would read back its own
    // replies.
    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&raw, B9600);
    cfsetospeed(&raw, B9600);

    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        m_error = errno;
        return;
    }
    m_master.reset(master);
    m_slave.reset(slave);
    m_slave_path = name;
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
}

uint32_t PtyLine::hostBaud() const {
    termios settings{};
    // On Linux the master reports the slave's settings.
    if (!m_master.valid() || tcgetattr(m_master.get(), &settings) != 0) {
        return 0;
    }
    return baudForSpeed(cfgetospeed(&settings));
}

void PtyLine::hangUp() {
    m_slave.reset();
    m_master.reset();
}

}  // namespace qor::sim
