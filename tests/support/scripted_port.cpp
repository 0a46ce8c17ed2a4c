#include "tests/support/scripted_port.h"

#include <algorithm>

namespace qor::testing {

class ScriptedPort final : public SerialPort {
  public:
    explicit ScriptedPort(ScriptedLine& line) : m_line(line) {}
    ~ScriptedPort() override { m_line.close(); }

    bool readByte(uint8_t& byte, uint32_t wait_ms) override { return m_line.read(byte, wait_ms); }
    bool hasBuffered() const override { return m_line.hasArrived(); }
    bool write(std::span<const uint8_t> data) override { return m_line.write(data); }
    void purge() override { m_line.purge(); }

  private:
    ScriptedLine& m_line;
};

void ScriptedLine::arriveAt(uint32_t at_ms, std::string_view bytes) {
    std::lock_guard lock(m_mutex);
    // Ticks wrap around, so order them by signed distance, not by value.
    auto it = std::upper_bound(
        m_incoming.begin(), m_incoming.end(), at_ms,
        [](uint32_t t, const auto& entry) { return static_cast<int32_t>(t - entry.first) < 0; });
    for (char c : bytes) {
        it = m_incoming.insert(it, {at_ms, static_cast<uint8_t>(c)}) + 1;
    }
}

void ScriptedLine::arriveAfter(uint32_t delay_ms, std::string_view bytes) {
    arriveAt(m_clock.now_ms() + delay_ms, bytes);
}

void ScriptedLine::trickle(uint32_t gap_ms, std::string_view bytes) {
    const uint32_t now = m_clock.now_ms();
    for (size_t i = 0; i < bytes.size(); ++i) {
        arriveAt(now + gap_ms * static_cast<uint32_t>(i + 1), bytes.substr(i, 1));
    }
}

void ScriptedLine::setResponder(Responder responder) {
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

PortHandle ScriptedLine::open(uint32_t baud) {
    std::lock_guard lock(m_mutex);
    if (m_refuseOpen || m_open) {
        return nullptr;
    }
    m_open = true;
    m_baud = baud;
    m_openedBauds.push_back(baud);
    return std::make_unique<ScriptedPort>(*this);
}

bool ScriptedLine::read(uint8_t& byte, uint32_t wait_ms) {
    std::lock_guard lock(m_mutex);
    const uint32_t now = m_clock.now_ms();
    if (!m_incoming.empty()) {
        const uint32_t due = m_incoming.front().first - now;
        // Unsigned: anything due in the past wraps to a huge value, so test
        // "already there" by signed distance.
        if (static_cast<int32_t>(due) <= 0 || due <= wait_ms) {
            if (static_cast<int32_t>(due) > 0) {
                m_clock.advance(due);
            }
            byte = m_incoming.front().second;
            m_incoming.pop_front();
            return true;
        }
    }
    m_clock.advance(wait_ms);
    return false;
}

bool ScriptedLine::hasArrived() const {
    std::lock_guard lock(m_mutex);
    return !m_incoming.empty() &&
           static_cast<int32_t>(m_incoming.front().first - m_clock.now_ms()) <= 0;
}

bool ScriptedLine::write(std::span<const uint8_t> data) {
    Responder responder;
    {
        std::lock_guard lock(m_mutex);
        const size_t index = m_writeCalls++;
        if (index == m_failWriteAt) {
            return false;
        }
        m_writes.push_back({m_clock.now_ms(), m_baud, {data.begin(), data.end()}});
        responder = m_responder;
    }
    if (responder) {
        responder(*this, data);
    }
    return true;
}

void ScriptedLine::purge() {
    std::lock_guard lock(m_mutex);
    ++m_purges;
    const uint32_t now = m_clock.now_ms();
    while (!m_incoming.empty() && static_cast<int32_t>(m_incoming.front().first - now) <= 0) {
        m_incoming.pop_front();
    }
}

void ScriptedLine::close() {
    std::lock_guard lock(m_mutex);
    m_open = false;
    ++m_closes;
}

std::vector<ScriptedLine::Write> ScriptedLine::writes() const {
    std::lock_guard lock(m_mutex);
    return m_writes;
}

std::vector<uint8_t> ScriptedLine::written() const {
    std::lock_guard lock(m_mutex);
    std::vector<uint8_t> all;
    for (const Write& w : m_writes) {
        all.insert(all.end(), w.bytes.begin(), w.bytes.end());
    }
    return all;
}

std::string ScriptedLine::writtenText() const {
    const std::vector<uint8_t> all = written();
    return std::string(all.begin(), all.end());
}

std::vector<uint32_t> ScriptedLine::openedBauds() const {
    std::lock_guard lock(m_mutex);
    return m_openedBauds;
}

uint32_t ScriptedLine::baud() const {
    std::lock_guard lock(m_mutex);
    return m_baud;
}

int ScriptedLine::purges() const {
    std::lock_guard lock(m_mutex);
    return m_purges;
}

int ScriptedLine::closes() const {
    std::lock_guard lock(m_mutex);
    return m_closes;
}

bool ScriptedLine::isOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

size_t ScriptedLine::bytesLeft() const {
    std::lock_guard lock(m_mutex);
    return m_incoming.size();
}

}  // namespace qor::testing
