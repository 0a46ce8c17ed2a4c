#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>

#include "base/unique_fd.h"
#include "serial/com_port_name.h"
#include "serial/serial_port.h"

namespace qor {

namespace {

struct RateEntry {
    uint32_t baud;
    speed_t speed;
};

// The rates a POSIX line can be asked for by number. Anything else is a rate
// the port refuses.
constexpr RateEntry kRates[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {3000000, B3000000}, {4000000, B4000000},
};

bool speedFor(uint32_t baud, speed_t& speed) {
    for (const RateEntry& entry : kRates) {
        if (entry.baud == baud) {
            speed = entry.speed;
            return true;
        }
    }
    return false;
}

int clampWait(int64_t ms) {
    if (ms <= 0) {
        return 0;
    }
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class PosixSerialPort final : public SerialPort {
  public:
    explicit PosixSerialPort(UniqueFd fd) : m_fd(std::move(fd)) {}

    ~PosixSerialPort() override {
        // The exclusive flag stays on the tty after our close while anybody
        // else (a simulator's own slave fd, a getty) holds it open, and would
        // then lock every later non-root open out.
        ::ioctl(m_fd.get(), TIOCNXCL);
    }

    // Raw 8N1 at `speed`, no flow control, reads that never block. False
    // with errno set when the line refuses any of it.
    bool configure(speed_t speed) {
        termios tio{};
        if (::tcgetattr(m_fd.get(), &tio) != 0) {
            return false;
        }
        ::cfmakeraw(&tio);
        tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CREAD | CLOCAL;
        tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0 ||
            ::tcsetattr(m_fd.get(), TCSANOW, &tio) != 0) {
            return false;
        }
        // tcsetattr succeeds when any one setting was applied; a driver that
        // cannot do the rate keeps its old one, so read the rate back.
        termios applied{};
        if (::tcgetattr(m_fd.get(), &applied) != 0) {
            return false;
        }
        if (::cfgetospeed(&applied) != speed || ::cfgetispeed(&applied) != speed ||
            (applied.c_cflag & CSIZE) != CS8) {
            errno = EINVAL;
            return false;
        }
        return raiseModemLines();
    }

    bool readByte(uint8_t& byte, uint32_t wait_ms) override {
        if (m_head == m_tail && !fill(wait_ms)) {
            return false;
        }
        byte = m_buffer[m_head++];
        return true;
    }

    bool hasBuffered() const override { return m_head != m_tail; }

    bool write(std::span<const uint8_t> data) override {
        if (m_lineDown) {
            return false;
        }
        // A serial write may take n + 1 ms: beyond that a line that does not
        // drain is as good as a failed one, and waiting longer would hang.
        // Timed from the first time the OS cannot take more, as nearly every
        // write goes out in one call.
        int64_t deadline = -1;
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(m_fd.get(), data.data() + done, data.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (deadline < 0) {
                    deadline = steadyMs() + static_cast<int64_t>(data.size()) + 1;
                }
                const int wait = clampWait(deadline - steadyMs());
                if (wait == 0) {
                    return false;
                }
                pollfd pfd{m_fd.get(), POLLOUT, 0};
                ::poll(&pfd, 1, wait);
                continue;
            }
            if (n < 0 && (errno == EIO || errno == ENXIO || errno == ENODEV)) {
                m_lineDown = true;
            }
            return false;
        }
        return true;
    }

    bool gone() const override { return m_lineDown; }

    // Everything written has already been handed to the driver, which sends
    // it on its own; only what came in is dropped. Flushing the output too
    // would, on a pseudo-terminal, reach into the far end's unread input and
    // take back bytes a wire would have delivered (a setup command the
    // imager has not read yet when the update worker opens the port).
    void purge() override {
        m_head = m_tail = 0;
        ::tcflush(m_fd.get(), TCIFLUSH);
    }

  private:
    bool raiseModemLines() {
        int bits = TIOCM_DTR | TIOCM_RTS;
        if (::ioctl(m_fd.get(), TIOCMBIS, &bits) == 0) {
            return true;
        }
        // Ptys and some USB adapters have no modem control lines at all; the
        // imager does not need them, so their absence is not a failure.
        return errno == ENOTTY || errno == EINVAL || errno == ENOTSUP;
    }

    // Waits up to `wait_ms` for input and reads everything that has arrived in
    // one call; the bytes beyond the first wait in m_buffer for later calls.
    bool fill(uint32_t wait_ms) {
        m_head = m_tail = 0;
        if (m_lineDown) {
            // Gone for good (unplugged, or the far end of a pty closed): sleep
            // the wait out rather than let the reader spin on an fd that is
            // always ready.
            ::poll(nullptr, 0, clampWait(wait_ms));
            return false;
        }
        pollfd pfd{m_fd.get(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, clampWait(wait_ms));
        if (ready <= 0) {
            return false;
        }
        if (pfd.revents & POLLIN) {
            const ssize_t n = ::read(m_fd.get(), m_buffer.data(), m_buffer.size());
            if (n > 0) {
                m_tail = static_cast<size_t>(n);
                return true;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                return false;
            }
            // read() of 0 on a tty with VMIN 0 after POLLIN means the other
            // side hung up; EIO says the same on a pty.
            m_lineDown = true;
            return false;
        }
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            m_lineDown = true;
        }
        return false;
    }

    UniqueFd m_fd;
    std::array<uint8_t, 4096> m_buffer{};
    size_t m_head = 0;
    size_t m_tail = 0;
    bool m_lineDown = false;
};

PortHandle fail(OpenFailure* failure, OpenFailure::Stage stage, int osError) {
    if (failure != nullptr) {
        failure->stage = stage;
        failure->osError = osError;
    }
    return nullptr;
}

}  // namespace

PortHandle OpenComPort(std::string_view name, uint32_t baud, OpenFailure* failure) {
    using Stage = OpenFailure::Stage;
    const std::string path = posixDevicePath(name, std::getenv("QOR_PORT_DIR"));
    if (failure != nullptr) {
        *failure = OpenFailure{};
        failure->devicePath = path;
    }
    if (path.empty()) {
        return fail(failure, Stage::BadName, EINVAL);
    }
    speed_t speed = 0;
    if (!speedFor(baud, speed)) {
        return fail(failure, Stage::Configure, EINVAL);
    }

    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
        return fail(failure, errno == EBUSY ? Stage::InUse : Stage::Open, errno);
    }
    // TIOCEXCL keeps other users out but not root; the advisory lock keeps
    // out every opener that plays by the same rules, root included.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return fail(failure, Stage::InUse, errno);
    }
    if (::ioctl(fd.get(), TIOCEXCL) != 0) {
        return fail(failure, Stage::Configure, errno);
    }
    auto port = std::make_unique<PosixSerialPort>(std::move(fd));
    if (!port->configure(speed)) {
        return fail(failure, Stage::Configure, errno);
    }
    port->purge();
    return port;
}

}  // namespace qor
