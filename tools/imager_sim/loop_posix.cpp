#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "tools/imager_sim/loop.h"

namespace qor::sim {

LineLoop::LineLoop(const ImagerOptions& options, Recorder& recorder, PtyLine& line, WireModel& wire,
                   Clock& clock, int wake_fd)
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
        const auto wait = waitUs(m_clock.now_us());
        timespec timeout{};
        if (wait) {
            timeout.tv_sec = static_cast<time_t>(*wait / 1'000'000);
            timeout.tv_nsec = static_cast<long>(*wait % 1'000'000 * 1000);
        }
        std::array<pollfd, 2> fds = {{
            {m_wake_fd, POLLIN, 0},
            {m_line.master(), static_cast<short>(POLLIN | (m_write_blocked ? POLLOUT : 0)), 0},
        }};
        // ppoll, not poll: a wire byte lasts microseconds, a poll() tick a
        // whole millisecond.
        if (ppoll(fds.data(), fds.size(), wait ? &timeout : nullptr, nullptr) < 0 &&
            errno != EINTR) {
            return;
        }
        const uint64_t now = m_clock.now_us();
        if (fds[0].revents != 0 || (fds[1].revents & (POLLERR | POLLNVAL)) != 0) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            readLine(now);
        }
        if ((fds[1].revents & POLLOUT) != 0) {
            m_write_blocked = false;
        }
        if (writeDue(m_clock.now_us()) == Step::kEnd) {
            return;
        }
        flood(m_clock.now_us());
    }
}

std::optional<uint64_t> LineLoop::waitUs(uint64_t now) {
    uint64_t until = std::numeric_limits<uint64_t>::max();
    if (const auto ready = headReadyAt(); ready && !m_write_blocked) {
        until = *ready;
    }
    if (m_flooding) {
        until = std::min(until, m_next_flood);
    }
    if (until == std::numeric_limits<uint64_t>::max()) {
        return std::nullopt;
    }
    return until > now ? until - now : 0;
}

std::optional<uint64_t> LineLoop::headReadyAt() {
    if (m_outbox.empty()) {
        return std::nullopt;
    }
    if (const auto ready = m_outbox.readyAt()) {
        return ready;
    }
    const auto due = m_outbox.dueAt();
    if (!due) {
        return std::nullopt;
    }
    // The reply starts down the wire when it falls due (or when the one
    // before it has left) and is the host's when its last byte has arrived.
    // It takes the line only when it goes out: until then a new marker may
    // still drop it.
    const Outgoing& head = m_outbox.head();
    const uint64_t ready = head.hang_up ? *due
                                        : m_wire.wouldArrive(WireDirection::kToHost,
                                                             head.bytes.size(), m_host_baud, *due);
    m_outbox.setReadyAt(ready);
    return ready;
}

void LineLoop::readLine(uint64_t now) {
    const ssize_t n = ::read(m_line.master(), m_buffer.data(), m_buffer.size());
    if (n <= 0) {
        return;
    }
    m_host_baud = m_line.hostBaud();
    const std::span<const uint8_t> bytes(m_buffer.data(), static_cast<std::size_t>(n));
    // The imager has these bytes when the last of them has crossed the wire;
    // its replies to them count their delays from then.
    const uint64_t arrived =
        m_wire.arrival(WireDirection::kToImager, bytes.size(), m_host_baud, now);
    const uint64_t image_before = m_peer.imageBytes();
    m_recorder.update([&](ImagerRecord& r) {
        r.received.insert(r.received.end(), bytes.begin(), bytes.end());
        if (m_reply_handed_over) {
            r.timing.turnaround_us.push_back(static_cast<uint32_t>(std::min<uint64_t>(
                now - *m_reply_handed_over, std::numeric_limits<uint32_t>::max())));
        }
    });
    m_reply_handed_over.reset();
    m_peer.feed(bytes, m_host_baud);
    m_outbox.arm(arrived);
    m_recorder.update([&](ImagerRecord& r) {
        r.handled += bytes.size();
        r.replies_pending = m_outbox.size();
    });

    if (const uint64_t image_after = m_peer.imageBytes(); image_after > image_before) {
        m_recorder.update([&](ImagerRecord& r) {
            if (image_before == 0) {
                r.timing.image_first_us = now;
            }
            r.timing.image_last_us = arrived;
        });
    }
    if (!m_flooding && m_options.flood_gap_ms > 0 && m_peer.exchangeBegun()) {
        m_flooding = true;
        m_next_flood = now;
    }
}

LineLoop::Step LineLoop::writeDue(uint64_t now) {
    while (!m_write_blocked) {
        const auto ready = headReadyAt();
        if (!ready || *ready > now) {
            break;
        }
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
                m_recorder.update([&](ImagerRecord& r) { r.replies_pending = m_outbox.size(); });
            }
            continue;
        }
        const auto written = static_cast<std::size_t>(n);
        if (written < next.bytes.size()) {
            next.bytes.erase(next.bytes.begin(), next.bytes.begin() + n);
            m_write_blocked = true;
            continue;
        }
        m_wire.arrival(WireDirection::kToHost, next.bytes.size(), m_host_baud,
                       m_outbox.dueAt().value_or(now));
        const uint64_t pause_us = uint64_t{next.delay_ms} * 1000;
        const auto late_us = static_cast<uint32_t>(
            std::min<uint64_t>(now - *ready, std::numeric_limits<uint32_t>::max()));
        m_recorder.update([&](ImagerRecord& r) {
            r.timing.pause_us += pause_us;
            r.timing.late_us.push_back(late_us);
        });
        m_reply_handed_over = now;
        m_outbox.pop(now);
        m_recorder.update([&](ImagerRecord& r) { r.replies_pending = m_outbox.size(); });
    }
    return Step::kGoOn;
}

void LineLoop::flood(uint64_t now) {
    if (!m_flooding || m_write_blocked || now < m_next_flood) {
        return;
    }
    // Noise takes its place on the wire like any byte and holds the replies
    // back behind it, but goes out at once: a noise byte early by its own
    // wire time cheats no one. One the pty cannot take is dropped: noise is
    // not owed to anyone.
    m_wire.arrival(WireDirection::kToHost, 1, m_host_baud, now);
    writeRecorded(std::span<const uint8_t>(&m_options.flood_byte, 1));
    m_next_flood = now + uint64_t{m_options.flood_gap_ms} * 1000;
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
