#pragma once

#include "serial/serial_port.h"

namespace qor {

// The Windows handle behind a port that OpenComPort opened, so that checks
// can read back the line settings the port holds; null for any other port.
void* win32PortHandle(SerialPort& port);

}  // namespace qor
