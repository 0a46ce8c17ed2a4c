#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>

#include "tools/imager_sim/loop.h"
#include "tools/imager_sim/simulator.h"

namespace qor::sim {

ImagerSimulator::ImagerSimulator(ImagerOptions options)
    : m_options(std::move(options)), m_wire(makeWire(m_options)) {}

ImagerSimulator::~ImagerSimulator() {
    stop();
}

bool ImagerSimulator::start() {
    if (m_thread.joinable()) {
        return true;
    }
    auto line = std::make_unique<PtyLine>();
    if (!line->valid()) {
        m_error = line->error();
        return false;
    }
    int wake[2] = {-1, -1};
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_error = errno;
        return false;
    }
    m_wake_read.reset(wake[0]);
    m_wake_write.reset(wake[1]);
    m_line = std::move(line);
    m_port_path = m_line->slavePath();
    m_thread = std::thread([this] { run(); });
    return true;
}

void ImagerSimulator::stop() {
    if (m_thread.joinable()) {
        const char wake = 1;
        // The pipe is empty or holds a byte already: either way the thread wakes.
        [[maybe_unused]] const auto ignored = ::write(m_wake_write.get(), &wake, 1);
        m_thread.join();
    }
    m_line.reset();
    m_wake_read.reset();
    m_wake_write.reset();
}

bool ImagerSimulator::waitForReceived(std::size_t count, uint32_t timeout_ms) const {
    return waitFor([count](const ImagerRecord& r) { return r.received.size() >= count; },
                   timeout_ms);
}

void ImagerSimulator::run() {
    // Linux lets a sleeping thread wake up to 50 us late to save wake-ups; a
    // byte at 921600 baud lasts 11 us, and a line timed that loosely would
    // be slower than the wire it stands for.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    LineLoop loop(m_options, m_recorder, *m_line, *m_wire, m_clock, m_wake_read.get());
    loop.run();
}

}  // namespace qor::sim
