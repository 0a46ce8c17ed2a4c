#include "update/setup_command.h"

namespace qor {

SetupCommand buildSetupCommand(SetupParams params) {
    SetupCommand command{0x05, 0x57, params.p1, params.p2, params.p3, 0, 0};
    uint16_t sum = 0;
    for (int i = 0; i < 5; ++i) {
        sum = static_cast<uint16_t>(sum + command[i]);
    }
    const uint16_t checksum = static_cast<uint16_t>(0x10000 - sum);
    command[5] = static_cast<uint8_t>(checksum >> 8);
    command[6] = static_cast<uint8_t>(checksum & 0xFF);
    return command;
}

}  // namespace qor
