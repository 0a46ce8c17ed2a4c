#include "update/setup_handshake.h"

#include <algorithm>
#include <array>

#include "text/catalogue.h"
#include "update/setup_command.h"

namespace qor {

bool SendSetupCommand(SerialPort& port, uint8_t p1, uint8_t p2, uint8_t p3) {
    const SetupCommand command = buildSetupCommand({p1, p2, p3});
    return port.write(command);
}

bool ReadSetupReply(SerialPort& port, Clock& clock) {
    std::array<uint8_t, SetupReply.size()> reply{};
    size_t received = 0;
    uint32_t start = clock.now_ms();
    while (received < reply.size()) {
        const uint32_t quiet = clock.now_ms() - start;
        if (quiet >= kSetupReplySilenceMs) {
            return false;
        }
        uint8_t byte = 0;
        if (port.readByte(byte, kSetupReplySilenceMs - quiet)) {
            reply[received++] = byte;
            start = clock.now_ms();
        }
    }
    // Bytes behind the fifth are left unread; the port is closed next anyway.
    return std::equal(reply.begin(), reply.end(), SetupReply.begin());
}

bool RunSetupHandshake(UpdateDialog& dialog, std::string_view portName) {
    RunState& state = dialog.state();
    Services& services = dialog.services();
    Clock& clock = services.clock(Services::kUiThread);

    for (const uint32_t baud : kSetupBaudRates) {
        PortHandle port = services.openComPort(portName, baud);
        if (!port) {
            const std::string text = formatText(Situation::HandshakePortOpenFailed,
                                                state.UiLanguage, kTextCapacity, {portName});
            dialog.deviceEvents().failed(0, Situation::HandshakePortOpenFailed, text);
            return false;
        }
        port->purge();
        SendSetupCommand(*port, SetupProbeCommand.p1, SetupProbeCommand.p2, SetupProbeCommand.p3);
        if (!ReadSetupReply(*port, clock)) {
            continue;
        }
        // The imager acknowledges none of these; what it makes of them shows
        // only when the update worker reaches it.
        bool first = true;
        for (const SetupParams& command : kUpdateModeCommands) {
            if (!first) {
                clock.sleep_ms(kSetupCommandPauseMs);
            }
            first = false;
            SendSetupCommand(*port, command.p1, command.p2, command.p3);
        }
        if (baud == kHighSpeedBaud) {
            state.HighSpeedFlag = 1;
        }
        return true;
    }
    return false;
}

}  // namespace qor
