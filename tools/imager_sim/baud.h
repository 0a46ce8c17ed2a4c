#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

namespace qor::sim {

// termios keeps line rates as B-constants, the protocol talks in bits per
// second. Only the rates an imager line can use are known here.
std::optional<speed_t> speedForBaud(uint32_t baud);
// 0 for a rate not in the table.
uint32_t baudForSpeed(speed_t speed);

}  // namespace qor::sim
