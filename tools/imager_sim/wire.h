#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "tools/imager_sim/options.h"

namespace qor::sim {

enum class WireDirection { kToImager, kToHost };

// How long bytes occupy the line. A pty moves 1029 bytes in microseconds at
// any rate, so a simulator that has to take as long as a real serial line
// must add the wire time itself. Bytes the host wrote count as come only
// when their last bit would have crossed the wire, and a reply is handed to
// the host only when its last byte would have arrived: never sooner than a
// real line could have carried them.
class WireModel {
  public:
    virtual ~WireModel() = default;

    // `bytes` are handed to the line in `direction` at `now_us`, with the
    // host's end of the line set to `host_baud` (0 when unknown). Returns the
    // microsecond at which the last of them reaches the far end. Calls for
    // one direction come in time order: the line carries one byte after
    // another, so bytes handed over while earlier ones are still on their
    // way queue behind them.
    virtual uint64_t arrival(WireDirection direction, std::size_t bytes, uint32_t host_baud,
                             uint64_t now_us) = 0;
    // The same without taking the line: for a reply that is only planned,
    // which a new exchange may still drop.
    virtual uint64_t wouldArrive(WireDirection direction, std::size_t bytes, uint32_t host_baud,
                                 uint64_t now_us) const = 0;
};

// The pty as it is: no wire time at all.
class InstantWire final : public WireModel {
  public:
    uint64_t arrival(WireDirection, std::size_t, uint32_t, uint64_t now_us) override {
        return now_us;
    }
    uint64_t wouldArrive(WireDirection, std::size_t, uint32_t, uint64_t now_us) const override {
        return now_us;
    }
};

// A UART line: 8N1 framing puts 10 bits on the wire for every byte, so the
// line carries baud / 10 bytes a second in each direction, both directions
// at once and independently.
class SerialWire final : public WireModel {
  public:
    // `baud` is the line's rate, or kWireAtHostRate for the rate the host has
    // set on its end (an RS-232 imager, which only hears its own rate).
    explicit SerialWire(uint32_t baud) : m_baud(baud) {}

    uint64_t arrival(WireDirection direction, std::size_t bytes, uint32_t host_baud,
                     uint64_t now_us) override;
    uint64_t wouldArrive(WireDirection direction, std::size_t bytes, uint32_t host_baud,
                         uint64_t now_us) const override;

    // Time `bytes` occupy a line at `baud`, rounded up to whole microseconds
    // so that rounding never makes the line faster than it is.
    static uint64_t durationUs(std::size_t bytes, uint32_t baud);

  private:
    uint32_t m_baud;
    // When each direction's last byte so far has arrived; the next byte
    // cannot start before that.
    std::array<uint64_t, 2> m_free{};
};

// The model `options.wire_baud` asks for.
std::unique_ptr<WireModel> makeWire(const ImagerOptions& options);

}  // namespace qor::sim
