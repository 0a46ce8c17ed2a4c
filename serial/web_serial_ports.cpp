#include "serial/web_serial_ports.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <vector>

namespace qor {

namespace {

using std::chrono::milliseconds;
using Deadline = std::chrono::steady_clock::time_point;

// How long the page may take to open or close a port, and what a write may
// take beyond a millisecond a byte: the request goes through the page's
// thread, which may be busy drawing for a moment.
constexpr milliseconds kOpenCloseWait{5000};
constexpr milliseconds kWriteAllowance{1000};

Deadline after(milliseconds wait) {
    return std::chrono::steady_clock::now() + wait;
}

}  // namespace

// One granted port as both threads see it. The port object and the hub
// share it, so a request the page settles late still finds its line.
struct WebSerialPorts::Line {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<uint8_t> received;
    bool open = false;  // an open has been asked for and not closed again
    bool gone = false;
    uint64_t nextOp = 0;
    std::map<uint64_t, bool> results;  // settled requests nobody collected yet
    std::vector<uint8_t> writing;      // the bytes of the write in flight

    uint64_t newOp() {
        results.clear();  // only the request about to be made is awaited
        return ++nextOp;
    }

    // Waits for `op` to be settled; false when it failed or did not settle
    // by `deadline`.
    bool await(std::unique_lock<std::mutex>& lock, uint64_t op, Deadline deadline) {
        if (!changed.wait_until(lock, deadline, [&] { return results.count(op) != 0; })) {
            return false;
        }
        const bool ok = results[op];
        results.erase(op);
        return ok;
    }
};

namespace {

class WebSerialPort final : public SerialPort {
  public:
    WebSerialPort(int port, std::shared_ptr<WebSerialPorts::Line> line, WebSerialLink& link)
        : m_port(port), m_line(std::move(line)), m_link(link) {}

    ~WebSerialPort() override {
        std::unique_lock lock(m_line->mutex);
        const uint64_t op = m_line->newOp();
        m_link.requestClose(m_port, op);
        // Waited for, so that the next open of this port (the setup scan
        // opens it again at the next rate) finds it closed.
        m_line->await(lock, op, after(kOpenCloseWait));
        m_line->open = false;
        m_line->received.clear();
    }

    bool readByte(uint8_t& byte, uint32_t wait_ms) override {
        std::unique_lock lock(m_line->mutex);
        const bool ready = m_line->changed.wait_for(
            lock, milliseconds(wait_ms), [&] { return !m_line->received.empty() || m_line->gone; });
        if (!ready || m_line->received.empty()) {
            return false;
        }
        byte = m_line->received.front();
        m_line->received.pop_front();
        return true;
    }

    bool hasBuffered() const override {
        std::lock_guard lock(m_line->mutex);
        return !m_line->received.empty();
    }

    bool write(std::span<const uint8_t> data) override {
        std::unique_lock lock(m_line->mutex);
        if (m_line->gone || !m_line->writing.empty()) {
            return false;  // gone, or an earlier write never finished
        }
        m_line->writing.assign(data.begin(), data.end());
        const uint64_t op = m_line->newOp();
        m_link.requestWrite(m_port, op, m_line->writing.data(), m_line->writing.size());
        // A write that does not settle in time keeps its bytes until it does.
        return m_line->await(lock, op, after(milliseconds(data.size()) + kWriteAllowance));
    }

    void purge() override {
        std::lock_guard lock(m_line->mutex);
        m_line->received.clear();
    }

    bool gone() const override {
        std::lock_guard lock(m_line->mutex);
        return m_line->gone;
    }

  private:
    const int m_port;
    std::shared_ptr<WebSerialPorts::Line> m_line;
    WebSerialLink& m_link;
};

}  // namespace

std::shared_ptr<WebSerialPorts::Line> WebSerialPorts::line(int port) {
    std::lock_guard lock(m_mutex);
    auto& line = m_lines[port];
    if (!line) {
        line = std::make_shared<Line>();
    }
    return line;
}

PortHandle WebSerialPorts::open(int port, uint32_t baud) {
    auto shared = line(port);
    std::unique_lock lock(shared->mutex);
    if (shared->open) {
        return {};
    }
    shared->open = true;
    shared->gone = false;
    shared->received.clear();
    const uint64_t op = shared->newOp();
    m_link.requestOpen(port, op, baud);
    if (!shared->await(lock, op, after(kOpenCloseWait))) {
        // Refused, or so late that nobody waits for it any more: closed
        // again either way, in case the page did open it after all.
        m_link.requestClose(port, shared->newOp());
        shared->open = false;
        return {};
    }
    lock.unlock();
    return std::make_unique<WebSerialPort>(port, std::move(shared), m_link);
}

void WebSerialPorts::received(int port, std::span<const uint8_t> bytes) {
    auto shared = line(port);
    {
        std::lock_guard lock(shared->mutex);
        if (!shared->open) {
            return;  // read after the close was asked for: nobody wants it
        }
        shared->received.insert(shared->received.end(), bytes.begin(), bytes.end());
    }
    shared->changed.notify_all();
}

void WebSerialPorts::settled(int port, uint64_t op, bool ok) {
    auto shared = line(port);
    {
        std::lock_guard lock(shared->mutex);
        shared->results[op] = ok;
        shared->writing.clear();  // requests settle in order: no write is in flight now
    }
    shared->changed.notify_all();
}

void WebSerialPorts::lost(int port) {
    auto shared = line(port);
    {
        std::lock_guard lock(shared->mutex);
        shared->gone = true;
    }
    shared->changed.notify_all();
}

}  // namespace qor
