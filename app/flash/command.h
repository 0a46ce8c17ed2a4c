#pragma once

#include <ostream>

#include "app/flash/device_board.h"
#include "app/flash/dialog.h"
#include "app/flash/interrupt.h"
#include "app/flash/options.h"
#include "app/flash/report_sink.h"
#include "app/flash/services.h"
#include "update/run_state.h"

namespace qor {

// Exit statuses of qor-flash.
namespace flash_exit {
inline constexpr int kSucceeded = 0;
inline constexpr int kDeviceFailed = 1;
inline constexpr int kUsage = 2;  // also: the report cannot be opened
inline constexpr int kImageRefused = 3;
inline constexpr int kNoDevice = 4;  // none found, too many, ports not found, no RS-232 answer
// Interrupted: 128 plus the signal's number, kCtrlCExitStatus for Ctrl-C (see
// Interrupt::exitStatus).
inline constexpr int kInterrupted = kCtrlCExitStatus;
}  // namespace flash_exit

// What one run of the command works with. The dialog tells `board` the
// device events of the run.
struct FlashContext {
    RunState& state;
    ConsoleDialog& dialog;
    ConsoleServices& services;
    DeviceBoard& board;
    Interrupt& interrupt;
    std::ostream& out;  // the list of imagers
    bool json = false;
    // --report: the board's sink, which records each device; null without.
    ReportSink* report = nullptr;
};

// Carries out the update (USB or RS-232) or the list that `options` asks
// for, with the window's checks in the window's order, and returns the exit
// status. The image is refused before any device is touched.
int runFlashCommand(const FlashOptions& options, FlashContext& context);

}  // namespace qor
