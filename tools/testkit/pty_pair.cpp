#include "tools/testkit/pty_pair.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

namespace qor::testing {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PtyPair::PtyPair() {
    if (!m_line.valid()) {
        throw std::runtime_error("openpty failed");
    }
}

void PtyPair::send(const std::string& bytes) const {
    // The master does not block: wait for room when the line is full.
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        pollfd pfd{master(), POLLOUT, 0};
        if (n == 0 || (errno != EAGAIN && errno != EINTR) || ::poll(&pfd, 1, 10'000) <= 0) {
            throw std::runtime_error("write to pty master failed");
        }
    }
}

std::string PtyPair::receive(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    std::string got;
    while (got.size() < count) {
        pollfd pfd{master(), POLLIN, 0};
        if (::poll(&pfd, 1, msLeft(deadline)) <= 0 || (pfd.revents & POLLIN) == 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = ::read(master(), buffer, std::min(sizeof buffer, count - got.size()));
        if (n <= 0) {
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

bool PtyPair::waitUntilQueued(std::size_t count, std::chrono::milliseconds timeout) const {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        int queued = 0;
        if (::ioctl(m_line.slave(), FIONREAD, &queued) == 0 &&
            static_cast<std::size_t>(queued) >= count) {
            return true;
        }
        if (msLeft(deadline) == 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace qor::testing
