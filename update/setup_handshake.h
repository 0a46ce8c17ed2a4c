#pragma once

#include <cstdint>
#include <string_view>

#include "base/clock.h"
#include "serial/serial_port.h"
#include "update/update_dialog.h"

namespace qor {

// Finds the RS-232 imager on `portName` by trying each setup rate in turn
// and switches it into update mode. True when the imager answered and has
// been sent the update-mode commands; HighSpeedFlag is then set if it
// answered at 230400 baud (it is never cleared here). False when no rate got
// the answer (nothing shown) or the port could not be opened at some rate
// (the user has been told, and no further rate is tried). Runs on the
// user-interface thread; the port is closed before each next rate and before
// returning.
bool RunSetupHandshake(UpdateDialog& dialog, std::string_view portName);

// Writes the 7-byte command for (p1, p2, p3) in one write.
bool SendSetupCommand(SerialPort& port, uint8_t p1, uint8_t p2, uint8_t p3);

// True when the first five bytes that arrive are the imager's reply, none of
// them more than 500 ms after the start of the wait or the byte before.
bool ReadSetupReply(SerialPort& port, Clock& clock);

}  // namespace qor
