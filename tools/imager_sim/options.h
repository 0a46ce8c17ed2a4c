#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace qor::sim {

// What the imager says at one step of the token exchange.
enum class Reply {
    kToken,   // the step's own token: "*echo", "*ack" or "*update"
    kNack,    // a refusal
    kError,   // an error report
    kSilent,  // nothing at all
    kHangUp,  // the line goes away instead: the simulator closes its side
};

// What happens when block `ImagerOptions::fault_block` has arrived.
enum class BlockFault {
    kNone,
    kNack,
    kError,
    kSilent,
    kHangUp,  // the line goes away: the simulator closes its side of the pty
};

// How an RS-232 imager misbehaves in the setup exchange.
enum class SetupFault {
    kNone,
    kWrongByte,         // answers the probe with the last byte one off
    kStrayByte,         // sends one stray byte before a correct answer
    kTruncated,         // sends the first four bytes of the answer and stops
    kSilentAfterReply,  // answers the probe, then ignores the setup commands
};

// ImagerOptions::wire_baud for a line at whatever rate the host has set.
inline constexpr uint32_t kWireAtHostRate = std::numeric_limits<uint32_t>::max();
// The rate a USB imager's line is timed at: a CDC port has no wire of its
// own, and the updater always asks for this rate over USB.
inline constexpr uint32_t kUsbWireBaud = 921600;

// One simulated imager's behaviour. The defaults are a well-behaved USB
// imager that answers at once.
struct ImagerOptions {
    // Token exchange, in the order of its steps. Every delay runs from the
    // moment the imager has what it answers (or from its previous reply).
    Reply probe_reply = Reply::kToken;
    uint32_t probe_delay_ms = 0;
    Reply header_reply = Reply::kToken;
    uint32_t header_delay_ms = 0;
    uint32_t block_delay_ms = 0;  // turnaround for every block
    BlockFault block_fault = BlockFault::kNone;
    uint32_t fault_block = 0;           // 0 is the first block
    Reply taken_reply = Reply::kToken;  // the "*ack" behind the last block's answer
    uint32_t check_time_ms = 0;         // between that "*ack" and "*update"
    Reply update_reply = Reply::kToken;
    uint32_t write_time_ms = 0;  // between "*update" and the final "*ack"
    Reply final_reply = Reply::kToken;

    // Line noise around every token the imager sends, for example "\r\n"
    // behind it, as some firmware builds print their replies as lines.
    std::string noise_before;
    std::string noise_after;
    // Above 0: tokens (with their noise) go out one byte at a time with this
    // gap, as from a device that writes from a slow loop.
    uint32_t trickle_gap_ms = 0;
    // Above 0: from the first marker on, the line also carries `flood_byte`
    // every this many milliseconds, on top of the replies: a noisy line whose
    // bytes the host must skip and that never falls silent.
    uint32_t flood_gap_ms = 0;
    uint8_t flood_byte = '\n';

    // 0: a USB imager, which takes the token exchange at any line rate.
    // Otherwise an RS-232 imager listening at this rate: it takes the setup
    // exchange first and then the token exchange at the update rate.
    uint32_t rs232_baud = 0;
    SetupFault setup_fault = SetupFault::kNone;

    // 0: bytes cross the pty at once, as the tests want it. Otherwise every
    // byte in either direction takes 10 bits at this rate (or at the host's
    // rate, kWireAtHostRate), so that an update takes as long as on a real
    // line.
    uint32_t wire_baud = 0;
};

// A probe delay that lands the answer in the middle of the host's n-th wait
// (1-based): the host waits for the answer in turns of about a second each.
constexpr uint32_t probeDelayForWait(uint32_t n) {
    return n == 0 ? 0 : (n - 1) * 1000 + 500;
}

}  // namespace qor::sim
