#pragma once

#include <array>
#include <cstdint>

namespace qor {

// The RS-232 imager's setup exchange: 7-byte commands 05 57 p1 p2 p3 and a
// 16-bit checksum, high byte first, that brings the sum of all seven bytes
// to zero modulo 0x10000.
using SetupCommand = std::array<uint8_t, 7>;

struct SetupParams {
    uint8_t p1;
    uint8_t p2;
    uint8_t p3;
};

// Asks the imager to answer at the rate it is listening at.
inline constexpr SetupParams SetupProbeCommand{0x0E, 0x0D, 0x01};

// What switches the imager into update mode, in this order, 100 ms apart.
inline constexpr SetupParams kUpdateModeCommands[] = {
    {0xA0, 0x01, 0x00},
    {0xA1, 0x02, 0x55},
    {0xA0, 0x01, 0x00},
};
inline constexpr uint32_t kSetupCommandPauseMs = 100;

// The imager's one answer to the probe.
inline constexpr std::array<uint8_t, 5> SetupReply{0x52, 0xA0, 0xEC, 0xFE, 0x74};

// Rates tried, in this order: the imager's factory rate first, its fastest
// last.
inline constexpr uint32_t kSetupBaudRates[] = {9600, 115200, 57600, 38400, 230400};
inline constexpr uint32_t kHighSpeedBaud = 230400;

// Silence that ends a wait for the reply: from the start of the wait to the
// first byte, and from each byte to the next.
inline constexpr uint32_t kSetupReplySilenceMs = 500;

SetupCommand buildSetupCommand(SetupParams params);

}  // namespace qor
