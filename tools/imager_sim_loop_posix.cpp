#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "tools/imager_sim_loop.h"

namespace qor::sim {

namespace {

// Milliseconds from `now` to `due`, 0 when it has passed.
uint32_t msUntil(uint32_t due, uint32_t now) {
    const auto left = static_cast<int32_t>(due - now);
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

}  // namespace

LineLoop::LineLoop(const ImagerOptions& options, Recorder& recorder, PtyLine& line,
                   const WireModel& wire, Clock& clock, int wake_fd)
    : m_options(options),
      m_recorder(recorder),
      m_line(line),
      m_wire(wire),
      m_clock(clock),
      m_wake_fd(wake_fd),
      m_peer(options, recorder, m_outbox),
      m_host_baud(line.hostBaud()) {}

void LineLoop::run() {
    for (;;) {
        const uint32_t before = m_clock.now_ms();
        m_outbox.arm(before);
        std::array<pollfd, 2> fds = {{
            {m_wake_fd, POLLIN, 0},
            {m_line.master(), static_cast<short>(POLLIN | (m_write_blocked ? POLLOUT : 0)), 0},
        }};
        if (poll(fds.data(), fds.size(), pollTimeout(before)) < 0 && errno != EINTR) {
            return;
        }
        if (fds[0].revents != 0 || (fds[1].revents & (POLLERR | POLLNVAL)) != 0) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            readLine();
        }
        if ((fds[1].revents & POLLOUT) != 0) {
            m_write_blocked = false;
        }
        const uint32_t now = m_clock.now_ms();
        if (writeDue(now) == Step::kEnd) {
            return;
        }
        flood(now);
    }
}

int LineLoop::pollTimeout(uint32_t now) const {
    uint32_t wait = UINT32_MAX;
    if (const auto until = m_outbox.msUntilDue(now); until && !m_write_blocked) {
        wait = *until;
    }
    if (m_flooding) {
        wait = std::min(wait, msUntil(m_next_flood, now));
    }
    return wait == UINT32_MAX ? -1 : static_cast<int>(std::min<uint32_t>(wait, INT_MAX));
}

void LineLoop::readLine() {
    const ssize_t n = ::read(m_line.master(), m_buffer.data(), m_buffer.size());
    if (n <= 0) {
        return;
    }
    m_host_baud = m_line.hostBaud();
    const std::span<const uint8_t> bytes(m_buffer.data(), static_cast<std::size_t>(n));
    m_recorder.addReceived(bytes);
    m_peer.feed(bytes, m_host_baud);
    if (!m_flooding && m_options.flood_gap_ms > 0 && m_peer.exchangeBegun()) {
        m_flooding = true;
        m_next_flood = m_clock.now_ms();
    }
}

LineLoop::Step LineLoop::writeDue(uint32_t now) {
    m_outbox.arm(now);
    while (!m_write_blocked && m_outbox.msUntilDue(now) == 0u) {
        Outgoing& next = m_outbox.head();
        if (next.hang_up) {
            m_recorder.update([&](ImagerRecord& r) {
                m_line.hangUp();
                r.hung_up = true;
            });
            return Step::kEnd;
        }
        const ssize_t n = writeRecorded(next.bytes);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_write_blocked = true;
            } else if (errno != EINTR) {
                m_outbox.pop(now);  // the line cannot take it: the reply is lost
            }
            continue;
        }
        const auto written = static_cast<std::size_t>(n);
        if (written < next.bytes.size()) {
            next.bytes.erase(next.bytes.begin(), next.bytes.begin() + n);
            m_write_blocked = true;
            continue;
        }
        // The wire time of what just went out holds back the next reply.
        m_outbox.pop(now + m_wire.transferMs(written, m_host_baud));
    }
    return Step::kGoOn;
}

void LineLoop::flood(uint32_t now) {
    if (!m_flooding || m_write_blocked || msUntil(m_next_flood, now) > 0) {
        return;
    }
    // A flood byte the pty cannot take is dropped: noise is not owed to anyone.
    writeRecorded(std::span<const uint8_t>(&m_options.flood_byte, 1));
    m_next_flood = now + m_options.flood_gap_ms;
}

ssize_t LineLoop::writeRecorded(std::span<const uint8_t> bytes) {
    // Written under the record's lock: a test that has read a reply and then
    // looks at the record must find the reply in it.
    ssize_t n = -1;
    int error = 0;
    m_recorder.update([&](ImagerRecord& r) {
        n = ::write(m_line.master(), bytes.data(), bytes.size());
        error = errno;
        if (n > 0) {
            r.sent.insert(r.sent.end(), bytes.begin(), bytes.begin() + n);
        }
    });
    errno = error;  // for the caller, whatever unlocking did to it
    return n;
}

}  // namespace qor::sim
