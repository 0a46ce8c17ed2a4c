#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// What the imager's firmware puts on and expects from the line. Written down
// here from the protocol's description, on purpose apart from the updater's
// own tables: if one side gets a byte wrong, the tests between them fail
// instead of agreeing with themselves.
namespace qor::sim::wire {

// Token exchange. ASCII, no terminator, no length, no checksum.
inline constexpr std::string_view kMarker = "%QOR%";
inline constexpr std::string_view kProbe = "*probe";
inline constexpr std::string_view kEcho = "*echo";
inline constexpr std::string_view kAck = "*ack";
inline constexpr std::string_view kUpdate = "*update";
inline constexpr std::string_view kNack = "*nack";
inline constexpr std::string_view kError = "*error";

// The header message: the image's first 8 bytes, then the image length as a
// 32-bit little-endian number at offset 8.
inline constexpr std::size_t kHeaderSize = 12;
inline constexpr std::size_t kLengthOffset = 8;
inline constexpr std::size_t kBlockSize = 1024;

// Setup exchange of the RS-232 imager: 7-byte packets 05 57 p1 p2 p3 and a
// big-endian checksum that brings the 16-bit sum of all seven to zero.
using SetupPacketBytes = std::array<uint8_t, 7>;
inline constexpr uint8_t kPacketLead = 0x05;
inline constexpr uint8_t kPacketKind = 0x57;
inline constexpr SetupPacketBytes kSetupProbe = {0x05, 0x57, 0x0E, 0x0D, 0x01, 0xFF, 0x88};
inline constexpr std::array<uint8_t, 5> kSetupReply = {0x52, 0xA0, 0xEC, 0xFE, 0x74};

// The commands that switch the imager into update mode, in the order they
// must arrive.
inline constexpr std::array<SetupPacketBytes, 3> kSetupSequence = {{
    {0x05, 0x57, 0xA0, 0x01, 0x00, 0xFF, 0x03},
    {0x05, 0x57, 0xA1, 0x02, 0x55, 0xFE, 0xAC},
    {0x05, 0x57, 0xA0, 0x01, 0x00, 0xFF, 0x03},
}};

// After the switch the imager talks at 230400 baud if it was found there,
// and at 115200 baud in every other case.
inline constexpr uint32_t kHighSpeedBaud = 230400;
inline constexpr uint32_t kUpdateBaud = 115200;

inline constexpr uint32_t updateBaudFor(uint32_t setup_baud) {
    return setup_baud == kHighSpeedBaud ? kHighSpeedBaud : kUpdateBaud;
}

// True when the packet's checksum brings the sum of its bytes to zero.
inline constexpr bool checksumValid(const SetupPacketBytes& p) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i < 5; ++i) {
        sum += p[i];
    }
    sum += static_cast<uint32_t>(p[5]) << 8 | p[6];
    return (sum & 0xFFFF) == 0;
}

}  // namespace qor::sim::wire
