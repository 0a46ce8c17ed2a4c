#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "tools/imager_sim/wire_bytes.h"

namespace qor::sim {

// A 7-byte setup packet as it arrived, with the host's line rate at the time.
// Packets sent at another rate than the imager's are kept too: a real imager
// would have seen noise, but the tests want to see the host's baud scan.
struct SetupPacket {
    wire::SetupPacketBytes bytes{};
    uint32_t baud = 0;

    bool operator==(const SetupPacket&) const = default;
};

// One token exchange, from its marker on.
struct TokenRun {
    bool marker_seen = false;
    bool probe_seen = false;
    std::vector<uint8_t> header;  // the header message as far as it came, up to 12 bytes
    uint32_t image_length = 0;    // from the header message
    std::vector<uint8_t> image;   // every block byte received
    uint32_t blocks = 0;          // complete blocks received
    bool completed = false;       // the whole image is in
};

// When things happened on the line, in microseconds of the simulator's
// clock: what a benchmark of the host needs from its far end.
struct LineTiming {
    // The host's turnaround: from the moment the imager handed the last
    // byte of a reply to the host to the first byte the host sent after it.
    std::vector<uint32_t> turnaround_us;
    // How much later than its wire time each reply reached the host: the
    // simulator's own delay (a thread woken late), which a real line has not.
    std::vector<uint32_t> late_us;
    uint64_t image_first_us = 0;  // the first image byte of the latest run came
    uint64_t image_last_us = 0;   // the latest image byte came
    // The imager's own pauses (turnaround, check and write times, ...)
    // before the replies it has sent.
    uint64_t pause_us = 0;
};

// Everything a simulated imager saw and did.
struct ImagerRecord {
    std::vector<uint8_t> received;  // every byte read from the line, in order
    std::vector<uint8_t> sent;      // every byte written to the line, in order
    std::vector<SetupPacket> setup_packets;
    uint32_t setup_answers = 0;  // probes answered (rightly or, when scripted, wrongly)
    bool update_mode = false;    // an RS-232 imager took the setup commands
    uint32_t runs = 0;           // markers seen
    TokenRun run;                // the latest run
    bool hung_up = false;        // the simulator closed its side of the line
    // How many received bytes the imager has acted on (it records them as
    // received first), and how many of the replies it decided on have not
    // been handed to the host yet: once all bytes are handled and nothing is
    // pending, `sent` holds its whole answer, and a test reads exactly that
    // instead of listening for a while.
    std::size_t handled = 0;
    std::size_t replies_pending = 0;
    LineTiming timing;
};

// The record, shared between the simulator's thread and the test's. Every
// change wakes the waiters, so a test can wait for the imager to have seen
// something instead of sleeping for a guessed time.
class Recorder {
  public:
    ImagerRecord snapshot() const;

    // Applies `change` under the lock and wakes the waiters.
    void update(const std::function<void(ImagerRecord&)>& change);

    void addReceived(std::span<const uint8_t> bytes);

    // Waits until `done` holds for the record or `timeout_ms` has passed;
    // returns whether it holds.
    bool waitFor(const std::function<bool(const ImagerRecord&)>& done, uint32_t timeout_ms) const;

  private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    ImagerRecord m_record;
};

}  // namespace qor::sim
