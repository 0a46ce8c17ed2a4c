#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/imager_sim/stats.h"

namespace qor::bench {

// One whole update of `devices` simulated USB imagers by the updater
// program, the imagers served by qor-imager-sim in a process of its own.
struct RunConfig {
    // Who updates: the updater program, or the least any host can do (see
    // reference_host.h), for this machine's floor.
    enum class Host { kUpdater, kReference };
    Host host = Host::kUpdater;
    // The updater as a production station (--watch) rather than --usb, which
    // takes at most six imagers: the one way it updates more at once.
    bool watch = false;
    std::string updater;    // path of qor-flash
    std::string simulator;  // path of qor-imager-sim
    unsigned devices = 1;
    std::size_t image_bytes = 1 << 20;
    uint32_t wire_baud = 0;      // 0: raw ptys, bytes cross at once
    uint32_t turnaround_ms = 0;  // the imager's own time per block
};

struct RunResult {
    bool ok = false;
    std::string error;  // why not, when not ok
    double wall_s = 0;  // from starting the host to its exit
    double user_s = 0;  // the host's CPU time alone
    double system_s = 0;
    std::vector<sim::ImagerStats> imagers;
    // What the slowest imager's line could not have done faster: every byte
    // both ways at 10 bits a byte, the pause after the marker and the
    // imager's own time. 0 on raw ptys.
    double wire_bound_s = 0;
    // The part of that imager's own time that is the simulator's delay.
    double sim_late_s = 0;
};

RunResult runUpdate(const RunConfig& config);

// The wire lower bound of one imager's exchange, in seconds: every byte
// both ways at 10 bits a byte, the 250 ms after the marker, and the imager's
// own time: its scripted pauses and the simulator's delays in answering
// (its thread woken late), which a real imager's UART does not have but
// which lengthen a simulated update all the same.
double wireBoundSeconds(const sim::ImagerStats& imager, uint32_t baud);

// The simulator's delays in answering, in seconds.
double lateSeconds(const sim::ImagerStats& imager);

}  // namespace qor::bench
