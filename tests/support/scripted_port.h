#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/manual_clock.h"
#include "serial/serial_port.h"

namespace qor::testing {

// A serial line in virtual time. Bytes are scheduled to arrive at virtual
// instants; a read that waits moves the clock forward to the next arrival or
// by the whole wait, so a test sees exactly the silences a real line would
// give without sleeping through any of them. The line outlives the ports
// opened on it, so a test can inspect what was written after the code under
// test has closed its port.
class ScriptedLine {
  public:
    struct Write {
        uint32_t at_ms;
        uint32_t baud;
        std::vector<uint8_t> bytes;
    };
    using Responder = std::function<void(ScriptedLine&, std::span<const uint8_t>)>;

    explicit ScriptedLine(ManualClock& clock) : m_clock(clock) {}

    ManualClock& clock() { return m_clock; }

    // Bytes that arrive at virtual time `at_ms` (one after the other at that
    // instant), or `delay_ms` after now.
    void arriveAt(uint32_t at_ms, std::string_view bytes);
    void arriveAfter(uint32_t delay_ms, std::string_view bytes);
    // One byte every `gap_ms`, the first `gap_ms` from now.
    void trickle(uint32_t gap_ms, std::string_view bytes);

    // Called on every write with its bytes; may schedule answers.
    void setResponder(Responder responder);

    void setRefuseOpen(bool refuse) { m_refuseOpen = refuse; }
    // The write call with this index (0-based, counting every write) fails.
    void failWriteAt(size_t index) { m_failWriteAt = index; }

    // Opens a port on this line at `baud`; empty when set to refuse.
    PortHandle open(uint32_t baud);

    // What happened on the line.
    std::vector<Write> writes() const;
    std::vector<uint8_t> written() const;  // every byte, in order
    std::string writtenText() const;
    std::vector<uint32_t> openedBauds() const;
    uint32_t baud() const;  // the rate of the port open now, or of the last one
    int purges() const;
    int closes() const;
    bool isOpen() const;
    size_t bytesLeft() const;  // bytes that arrived or will, not yet read

  private:
    friend class ScriptedPort;
    bool read(uint8_t& byte, uint32_t wait_ms);
    bool hasArrived() const;  // a byte is due now or was before
    bool write(std::span<const uint8_t> data);
    void purge();
    void close();

    ManualClock& m_clock;
    mutable std::mutex m_mutex;
    std::deque<std::pair<uint32_t, uint8_t>> m_incoming;  // sorted by time
    Responder m_responder;
    std::vector<Write> m_writes;
    std::vector<uint32_t> m_openedBauds;
    uint32_t m_baud = 0;
    bool m_open = false;
    bool m_refuseOpen = false;
    size_t m_failWriteAt = SIZE_MAX;
    size_t m_writeCalls = 0;
    int m_purges = 0;
    int m_closes = 0;
};

}  // namespace qor::testing
