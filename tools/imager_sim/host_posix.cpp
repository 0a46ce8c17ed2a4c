#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "tools/imager_sim/baud.h"
#include "tools/imager_sim/host.h"

namespace qor::sim {

bool PlainHost::open(const std::string& path, uint32_t baud) {
    m_fd.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    m_hung_up = false;
    if (!m_fd.valid()) {
        m_error = errno;
        return false;
    }
    const auto speed = speedForBaud(baud);
    termios settings{};
    if (!speed || tcgetattr(m_fd.get(), &settings) != 0) {
        m_error = speed ? errno : EINVAL;
        m_fd.reset();
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, *speed);
    cfsetospeed(&settings, *speed);
    if (tcsetattr(m_fd.get(), TCSANOW, &settings) != 0 || tcflush(m_fd.get(), TCIOFLUSH) != 0) {
        m_error = errno;
        m_fd.reset();
        return false;
    }
    return true;
}

bool PlainHost::write(std::span<const uint8_t> bytes) {
    const ssize_t n = ::write(m_fd.get(), bytes.data(), bytes.size());
    return n == static_cast<ssize_t>(bytes.size());
}

bool PlainHost::write(std::string_view text) {
    return write(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool PlainHost::readSome(std::vector<uint8_t>& into, uint32_t timeout_ms) {
    if (m_hung_up || !m_fd.valid()) {
        return false;
    }
    pollfd fd{m_fd.get(), POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(timeout_ms)) <= 0) {
        return true;
    }
    std::array<uint8_t, 4096> buffer{};
    const ssize_t n = ::read(m_fd.get(), buffer.data(), buffer.size());
    if (n > 0) {
        into.insert(into.end(), buffer.begin(), buffer.begin() + n);
        return true;
    }
    // A slave whose master has closed reads as end of file (or EIO) and polls
    // as hung up; unread bytes are gone.
    if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        m_hung_up = true;
        return false;
    }
    return true;
}

std::vector<uint8_t> PlainHost::read(std::size_t count, uint32_t timeout_ms) {
    std::vector<uint8_t> got;
    readWhile([&] { return got.size() < count; }, got, timeout_ms);
    return got;
}

std::string PlainHost::readUntil(std::string_view tail, uint32_t timeout_ms) {
    std::vector<uint8_t> got;
    readWhile(
        [&] {
            return !std::string_view(reinterpret_cast<const char*>(got.data()), got.size())
                        .ends_with(tail);
        },
        got, timeout_ms);
    return std::string(got.begin(), got.end());
}

std::string PlainHost::readFor(uint32_t timeout_ms) {
    std::vector<uint8_t> got;
    readWhile([] { return true; }, got, timeout_ms);
    return std::string(got.begin(), got.end());
}

bool PlainHost::waitForHangUp(uint32_t timeout_ms) {
    std::vector<uint8_t> ignored;
    return !readWhile([] { return true; }, ignored, timeout_ms);
}

bool PlainHost::readWhile(const std::function<bool()>& more, std::vector<uint8_t>& into,
                          uint32_t timeout_ms) {
    const uint32_t start = m_clock.now_ms();
    while (more()) {
        const uint32_t spent = m_clock.now_ms() - start;
        if (spent >= timeout_ms) {
            return true;
        }
        if (!readSome(into, timeout_ms - spent)) {
            return false;
        }
    }
    return true;
}

}  // namespace qor::sim
