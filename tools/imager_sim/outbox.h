#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace qor::sim {

// One thing the imager will do on the line.
struct Outgoing {
    uint32_t delay_ms = 0;  // after the previous entry went out
    std::vector<uint8_t> bytes;
    bool hang_up = false;  // close the line instead of writing
};

// The imager's replies in the order it will give them, each due a while
// after the one before. Keeping them in a queue, instead of sleeping in the
// protocol code, lets the line be read and the simulator be stopped while
// an answer is pending. Times are microseconds of the simulator's clock.
class Outbox {
  public:
    void add(uint32_t delay_ms, std::span<const uint8_t> bytes);
    void add(uint32_t delay_ms, std::string_view text);
    void addHangUp(uint32_t delay_ms);
    void clear();

    bool empty() const { return m_entries.empty(); }
    std::size_t size() const { return m_entries.size(); }

    // Starts the head entry's delay at `now_us` unless it is running already.
    void arm(uint64_t now_us);
    // When the head entry falls due; empty when there is none or its delay
    // has not started.
    std::optional<uint64_t> dueAt() const { return m_head_due; }
    // When the head entry can be handed to the host: its due time plus the
    // time it spends on the wire. Set by whoever times the line, once per
    // entry; forgotten with the entry.
    std::optional<uint64_t> readyAt() const { return m_head_ready; }
    void setReadyAt(uint64_t ready_us) { m_head_ready = ready_us; }

    Outgoing& head() { return m_entries.front(); }
    // Drops the head entry; the next one's delay starts at `now_us`.
    void pop(uint64_t now_us);

  private:
    std::deque<Outgoing> m_entries;
    std::optional<uint64_t> m_head_due;
    std::optional<uint64_t> m_head_ready;
};

}  // namespace qor::sim
