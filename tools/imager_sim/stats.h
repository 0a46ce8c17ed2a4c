#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/imager_sim/record.h"

namespace qor::sim {

// One imager's figures as qor-imager-sim hands them to another process (a
// benchmark timing the host at the far end of the line).
struct ImagerStats {
    unsigned index = 0;
    std::string port;
    uint64_t received = 0;  // bytes from the host
    uint64_t sent = 0;      // bytes to the host
    uint32_t blocks = 0;    // blocks of the latest run
    bool completed = false;
    uint64_t pause_us = 0;          // the imager's own pauses before its replies
    uint64_t image_us = 0;          // from the first to the last image byte of the latest run
    std::vector<uint32_t> late_us;  // the simulator's own delay of each reply
    std::vector<uint32_t> turnaround_us;

    bool operator==(const ImagerStats&) const = default;
};

ImagerStats statsOf(unsigned index, const std::string& port, const ImagerRecord& record);

// One line of space-separated key=value fields, the lists with commas: "imager=0 port=/dev/pts/3
// received=1048599 ... turnaround_us=41,38". No newline.
std::string formatStats(const ImagerStats& stats);
// The reverse; empty when the line is not one of formatStats' lines.
std::optional<ImagerStats> parseStats(std::string_view line);

// Everything the imager saw and did, as one line of JSON for a test in
// another process (the browser tests' bridge): byte strings in lowercase hex,
// setup packets with the host's rate at the time, the latest run, and the
// counts that tell a reader when the imager has finished answering
// ("handled" equal to the length of "received", "replies_pending" 0).
// Timings are left out: --stats has them.
std::string formatRecordJson(unsigned index, const std::string& port, const ImagerRecord& record);

}  // namespace qor::sim
