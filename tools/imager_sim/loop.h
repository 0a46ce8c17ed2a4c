#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "base/clock.h"
#include "tools/imager_sim/options.h"
#include "tools/imager_sim/outbox.h"
#include "tools/imager_sim/peer.h"
#include "tools/imager_sim/pty.h"
#include "tools/imager_sim/record.h"
#include "tools/imager_sim/wire.h"

namespace qor::sim {

// The simulator thread's body: waits for the host's bytes, for the next
// reply to fall due or for the stop signal, whichever comes first, and moves
// bytes between the line and the imager's protocol logic, timed by the wire.
class LineLoop {
  public:
    LineLoop(const ImagerOptions& options, Recorder& recorder, PtyLine& line, WireModel& wire,
             Clock& clock, int wake_fd);

    // Returns when woken through `wake_fd`, when the imager hangs up or when
    // the line fails.
    void run();

  private:
    enum class Step { kGoOn, kEnd };

    // How long poll() may wait, in microseconds: until the next reply or
    // flood byte is due; empty (for ever) when nothing is, since the host or
    // stop() will wake us.
    std::optional<uint64_t> waitUs(uint64_t now);
    // When the head reply can be handed to the host; empty when none is
    // pending.
    std::optional<uint64_t> headReadyAt();
    void readLine(uint64_t now);
    Step writeDue(uint64_t now);
    void flood(uint64_t now);
    // write() on the master; what went out is in the record before anyone
    // can have read it.
    ssize_t writeRecorded(std::span<const uint8_t> bytes);

    const ImagerOptions& m_options;
    Recorder& m_recorder;
    PtyLine& m_line;
    WireModel& m_wire;
    Clock& m_clock;
    const int m_wake_fd;

    Outbox m_outbox;
    ImagerPeer m_peer;
    uint32_t m_host_baud = 0;
    bool m_write_blocked = false;  // the host is not reading and the pty is full
    bool m_flooding = false;
    uint64_t m_next_flood = 0;
    // When the latest reply was handed over, until the host's next byte.
    std::optional<uint64_t> m_reply_handed_over;
    // Larger than a block plus its header, so that a block mostly comes in one read.
    std::array<uint8_t, 4096> m_buffer{};
};

}  // namespace qor::sim
