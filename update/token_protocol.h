#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "update/image_header.h"

namespace qor {

// The token exchange of an imager in update mode. Tokens are plain ASCII
// and travel without terminator or checksum; the host writes each of its own
// in a single write.
namespace tokens {
inline constexpr std::string_view kMarker = "%QOR%";
inline constexpr std::string_view kProbe = "*probe";
inline constexpr const char* kEcho = "*echo";
inline constexpr const char* kAck = "*ack";
inline constexpr const char* kUpdate = "*update";
}  // namespace tokens

// The imager needs a moment after the marker before it listens for the
// probe; the probe is written once and then only listened for.
inline constexpr uint32_t kMarkerPauseMs = 250;
inline constexpr int kProbeWaits = 5;

// Writing the image into the imager's flash takes up to about a minute: up to
// 30 waits for the final answer, a pause before every wait after the first.
inline constexpr int kUpdateWaits = 30;
inline constexpr uint32_t kUpdatePauseMs = 1000;
// The dots behind the "writing" text start over after this many waits, so the
// label never outgrows its row.
inline constexpr int kUpdateDotsCycle = 5;

// Line rates of the exchange: USB imagers take any rate; an RS-232 imager
// stays at the high rate when its setup exchange found it there
// (kHighSpeedBaud), and takes this one otherwise.
inline constexpr uint32_t kUsbUpdateBaud = 921600;
inline constexpr uint32_t kRs232UpdateBaud = 115200;

// The message that announces an image: its first eight bytes as they stand,
// then the image's length (low 32 bits, little-endian) where the image
// itself has its third header word.
using HeaderMessage = std::array<uint8_t, kFirmwareHeaderSize>;

constexpr HeaderMessage buildHeaderMessage(std::span<const uint8_t, kFirmwareHeaderSize> imageStart,
                                           uint32_t imageLength) {
    HeaderMessage message{};
    for (std::size_t i = 0; i < 8; ++i) {
        message[i] = imageStart[i];
    }
    for (std::size_t i = 0; i < 4; ++i) {
        message[8 + i] = static_cast<uint8_t>(imageLength >> (8 * i));
    }
    return message;
}

}  // namespace qor
