#include "tests/update/scripted_imager.h"

#include <string_view>

namespace qor::testing {

namespace {

// A wait of the host with nothing coming ends just past one second.
constexpr uint32_t kSilentWaitMs = 1001;

std::string_view replyText(ScriptedImager::Reply reply, const char* token) {
    switch (reply) {
        case ScriptedImager::Reply::Token:
            return token;
        case ScriptedImager::Reply::Nack:
            return "*nack";
        case ScriptedImager::Reply::Error:
            return "*error";
        case ScriptedImager::Reply::Silent:
            break;
    }
    return {};
}

void say(ScriptedLine& line, uint32_t delayMs, ScriptedImager::Reply reply, const char* token) {
    const std::string_view text = replyText(reply, token);
    if (!text.empty()) {
        line.arriveAfter(delayMs, text);
    }
}

}  // namespace

void ScriptedImager::attach(ScriptedLine& line) {
    line.setResponder(
        [this](ScriptedLine& l, std::span<const uint8_t> bytes) { onWrite(l, bytes); });
}

uint32_t ScriptedImager::announcedLength() const {
    std::lock_guard lock(m_mutex);
    return m_length;
}

void ScriptedImager::answerWaits(ScriptedLine& line, const std::vector<Reply>& waits,
                                 const char* token, uint32_t startOffset, uint32_t pauseMs) {
    uint32_t at = startOffset;
    for (const Reply reply : waits) {
        if (reply == Reply::Silent) {
            at += kSilentWaitMs + pauseMs;
            continue;
        }
        say(line, at + kAnswerDelayMs, reply, token);
        if (reply == Reply::Token) {
            return;
        }
        at += kAnswerDelayMs + pauseMs;
    }
}

void ScriptedImager::onWrite(ScriptedLine& line, std::span<const uint8_t> bytes) {
    std::lock_guard lock(m_mutex);
    const int write = m_writes++;
    if (write == 0 || write == 1) {
        // The marker, then the probe.
        if (write == 1) {
            answerWaits(line, probeWaits, "*echo", 0, 0);
        }
        return;
    }
    if (write == 2) {
        if (bytes.size() >= 12) {
            m_length = static_cast<uint32_t>(bytes[8]) | static_cast<uint32_t>(bytes[9]) << 8 |
                       static_cast<uint32_t>(bytes[10]) << 16 |
                       static_cast<uint32_t>(bytes[11]) << 24;
        }
        say(line, 1, header, "*echo");
        return;
    }
    const int block = m_blocks++;
    m_received += bytes.size();
    if (block == faultBlock) {
        say(line, 1, blockFault, "*echo");
        return;
    }
    say(line, 1, Reply::Token, "*echo");
    if (m_received < m_length) {
        return;
    }
    // Checking and writing take no time here; what the host does in the
    // meantime is counted in its waits.
    if (taken != Reply::Token) {
        say(line, 2, taken, "*ack");
        return;
    }
    say(line, 2, Reply::Token, "*ack");
    if (checked != Reply::Token) {
        say(line, 3, checked, "*update");
        return;
    }
    say(line, 3, Reply::Token, "*update");
    // A silent update wait is followed by the host's one-second pause.
    answerWaits(line, updateWaits, "*ack", 3, 1000);
}

}  // namespace qor::testing
