#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "tests/support/scripted_port.h"

namespace qor::testing {

// An imager's side of the token exchange on a ScriptedLine, in virtual time.
// It answers what the host writes: the probe, the header message and every
// block; behind the last block it sends "*ack" and "*update" and then the
// final "*ack". Every answer is placed in a chosen wait of the host's: a
// silent wait of the host lasts just over a second, one that gets an answer
// ends with it, and the update waits are a second apart.
struct ScriptedImager {
    enum class Reply { Token, Nack, Error, Silent };

    // The answer in each of the host's waits for the probe's echo, in order;
    // empty: the probe is never answered.
    std::vector<Reply> probeWaits{Reply::Token};
    Reply header = Reply::Token;
    // Block `faultBlock` (0 is the first) gets `blockFault` instead of "*echo".
    int faultBlock = -1;
    Reply blockFault = Reply::Nack;
    Reply taken = Reply::Token;    // the "*ack" behind the last block
    Reply checked = Reply::Token;  // "*update"
    // The answer in each of the host's waits for the final "*ack".
    std::vector<Reply> updateWaits{Reply::Token};

    // Offset of answers within a wait that is answered.
    static constexpr uint32_t kAnswerDelayMs = 500;

    void attach(ScriptedLine& line);

    // The length the header message announced, 0 before it came.
    uint32_t announcedLength() const;

  private:
    void onWrite(ScriptedLine& line, std::span<const uint8_t> bytes);
    // Schedules answers to a run of waits that starts now.
    static void answerWaits(ScriptedLine& line, const std::vector<Reply>& waits, const char* token,
                            uint32_t startOffset, uint32_t pauseMs);

    mutable std::mutex m_mutex;
    int m_writes = 0;
    uint32_t m_length = 0;
    uint64_t m_received = 0;
    int m_blocks = 0;
};

}  // namespace qor::testing
