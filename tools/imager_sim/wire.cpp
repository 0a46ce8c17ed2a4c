#include "tools/imager_sim/wire.h"

#include <algorithm>

namespace qor::sim {

namespace {

// A start bit, eight data bits, a stop bit.
constexpr uint64_t kBitsPerByte = 10;
constexpr uint64_t kMicrosecondsPerSecond = 1'000'000;

}  // namespace

uint64_t SerialWire::durationUs(std::size_t bytes, uint32_t baud) {
    if (baud == 0) {
        return 0;
    }
    const uint64_t bit_us = bytes * kBitsPerByte * kMicrosecondsPerSecond;
    return (bit_us + baud - 1) / baud;
}

uint64_t SerialWire::wouldArrive(WireDirection direction, std::size_t bytes, uint32_t host_baud,
                                 uint64_t now_us) const {
    // A host rate the imager does not know (0) moves nothing it could hear;
    // such bytes cost no line time.
    const uint32_t baud = m_baud == kWireAtHostRate ? host_baud : m_baud;
    const uint64_t free = m_free[direction == WireDirection::kToImager ? 0 : 1];
    return std::max(free, now_us) + durationUs(bytes, baud);
}

uint64_t SerialWire::arrival(WireDirection direction, std::size_t bytes, uint32_t host_baud,
                             uint64_t now_us) {
    const uint64_t last = wouldArrive(direction, bytes, host_baud, now_us);
    m_free[direction == WireDirection::kToImager ? 0 : 1] = last;
    return last;
}

std::unique_ptr<WireModel> makeWire(const ImagerOptions& options) {
    if (options.wire_baud == 0) {
        return std::make_unique<InstantWire>();
    }
    return std::make_unique<SerialWire>(options.wire_baud);
}

}  // namespace qor::sim
