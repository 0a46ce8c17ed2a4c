#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/manual_clock.h"
#include "serial/serial_port.h"
#include "tests/support/scripted_port.h"

namespace qor::fuzz {

// A serial line in virtual time whose bytes, arrival times and read
// behaviour all come from the fuzz input: each byte arrives a chosen number
// of milliseconds after the one before (0 for a burst), and a read may come
// back early without a byte, as the Windows backend does after its 1 ms
// time-outs. Nothing sleeps; a wait only moves the clock.
class TimedLine {
  public:
    struct Arrival {
        uint32_t gapMs;  // after the arrival before, or after the start
        uint8_t byte;
    };

    // `pick` chooses each byte: usually from `likely` (the bytes the code
    // looks for), otherwise any byte.
    TimedLine(FuzzedDataProvider& input, std::string_view likely, uint32_t maxGapMs)
        : m_clock(input.ConsumeIntegral<uint32_t>()) {
        m_readCap = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(1, 300) : 0;
        const uint32_t start = m_clock.now_ms();
        uint32_t at = start;
        while (input.remaining_bytes() > 0 && m_arrivals.size() < 4096) {
            const uint32_t gap = input.ConsumeIntegralInRange<uint32_t>(0, maxGapMs);
            const uint8_t byte =
                input.ConsumeBool() && !likely.empty()
                    ? static_cast<uint8_t>(
                          likely[input.ConsumeIntegralInRange<size_t>(0, likely.size() - 1)])
                    : input.ConsumeIntegral<uint8_t>();
            at += gap;
            m_arrivals.push_back({gap, byte});
            m_line.arriveAt(at, std::string(1, static_cast<char>(byte)));
        }
        m_port = std::make_unique<CappedPort>(m_line.open(115200), m_readCap);
    }

    ManualClock& clock() { return m_clock; }
    SerialPort& port() { return *m_port; }
    const std::vector<Arrival>& arrivals() const { return m_arrivals; }
    size_t bytesLeft() const { return m_line.bytesLeft(); }

  private:
    // Hands each read a wait of at most `cap` ms (when not 0).
    class CappedPort final : public SerialPort {
      public:
        CappedPort(PortHandle inner, uint32_t cap) : m_inner(std::move(inner)), m_cap(cap) {}
        bool readByte(uint8_t& byte, uint32_t wait_ms) override {
            return m_inner->readByte(byte, m_cap == 0 ? wait_ms : std::min(wait_ms, m_cap));
        }
        bool hasBuffered() const override { return m_inner->hasBuffered(); }
        bool write(std::span<const uint8_t> data) override { return m_inner->write(data); }
        void purge() override { m_inner->purge(); }

      private:
        PortHandle m_inner;
        uint32_t m_cap;
    };

    ManualClock m_clock;
    testing::ScriptedLine m_line{m_clock};
    std::vector<Arrival> m_arrivals;
    uint32_t m_readCap = 0;
    PortHandle m_port;
};

}  // namespace qor::fuzz
