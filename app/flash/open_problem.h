#pragma once

#include <cstdint>
#include <string>

#include "serial/serial_port.h"

namespace qor {

// Why a port would not open, in the words a user can act on.
enum class OpenProblem {
    None,              // the OS said nothing useful
    PermissionDenied,  // the user may not open the device
    Busy,              // another program holds the port
    NoSuchDevice,      // nothing by that name, or it went away
    BadName,           // not a name a port can have
};

// Sorts a failed open by its stage and the OS error kept beside it.
OpenProblem classifyOpenFailure(const OpenFailure& failure);

// Sorts an OS error of an open (errno on POSIX, GetLastError() on Windows).
OpenProblem classifyOpenError(int osError);

// The reason in a few words, and one line that says what to do about it;
// both empty for OpenProblem::None. The hints differ by platform (on Linux a
// serial device belongs to the dialout group).
std::string openProblemReason(OpenProblem problem, uint16_t uiLanguage);
std::string openProblemHint(OpenProblem problem, uint16_t uiLanguage);

}  // namespace qor
