#include <array>
#include <utility>

#include "tools/imager_sim/baud.h"

namespace qor::sim {

namespace {

constexpr std::array<std::pair<uint32_t, speed_t>, 8> kRates = {{
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {921600, B921600},
}};

}  // namespace

std::optional<speed_t> speedForBaud(uint32_t baud) {
    for (const auto& [rate, speed] : kRates) {
        if (rate == baud) {
            return speed;
        }
    }
    return std::nullopt;
}

uint32_t baudForSpeed(speed_t speed) {
    for (const auto& [rate, known] : kRates) {
        if (known == speed) {
            return rate;
        }
    }
    return 0;
}

}  // namespace qor::sim
