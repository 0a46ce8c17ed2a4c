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
// an answer is pending.
class Outbox {
  public:
    void add(uint32_t delay_ms, std::span<const uint8_t> bytes);
    void add(uint32_t delay_ms, std::string_view text);
    void addHangUp(uint32_t delay_ms);
    void clear();

    bool empty() const { return m_entries.empty(); }

    // Starts the head entry's delay at `now_ms` unless it is running already.
    void arm(uint32_t now_ms);
    // Milliseconds until the head entry is due (0 when it is), as a 32-bit
    // tick difference; empty when there is none.
    std::optional<uint32_t> msUntilDue(uint32_t now_ms) const;

    Outgoing& head() { return m_entries.front(); }
    // Drops the head entry; the next one's delay starts at `now_ms`.
    void pop(uint32_t now_ms);

  private:
    std::deque<Outgoing> m_entries;
    std::optional<uint32_t> m_head_due;
};

}  // namespace qor::sim
