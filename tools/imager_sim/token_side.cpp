#include "tools/imager_sim/token_side.h"

#include <algorithm>

#include "tools/imager_sim/wire_bytes.h"

namespace qor::sim {

namespace {

// Long enough for the longest text token the host sends.
constexpr std::size_t kTailLength = 8;

uint32_t littleEndian32(const std::vector<uint8_t>& bytes, std::size_t at) {
    return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
           static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

}  // namespace

TokenSide::TokenSide(const ImagerOptions& options, Recorder& recorder, Outbox& outbox)
    : m_options(options), m_recorder(recorder), m_outbox(outbox) {}

bool TokenSide::expectsText() const {
    return m_state == State::kAwaitMarker || m_state == State::kAwaitProbe;
}

void TokenSide::reset() {
    if (m_state != State::kGone) {
        m_state = State::kAwaitMarker;
    }
    m_tail.clear();
}

void TokenSide::feed(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        if (markerWhereDataBegins(bytes)) {
            startRun();
            bytes = bytes.subspan(wire::kMarker.size());
            continue;
        }
        std::size_t used = 1;
        switch (m_state) {
            case State::kAwaitMarker:
            case State::kAwaitProbe:
                feedText(bytes.front());
                break;
            case State::kHeader:
                used = feedHeader(bytes);
                break;
            case State::kBlocks:
                used = feedBlocks(bytes);
                break;
            case State::kGone:
                return;
        }
        bytes = bytes.subspan(used);
    }
}

bool TokenSide::markerWhereDataBegins(std::span<const uint8_t> bytes) const {
    // The updater starts every run afresh with the marker, also after it gave
    // up on this imager halfway. A header message begins with the image's
    // magic number, never with the marker, and a block that happens to begin
    // with these five bytes is far rarer than a host that started over.
    const bool at_start = (m_state == State::kHeader && m_header.empty()) ||
                          (m_state == State::kBlocks && m_block_fill == 0);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return at_start && text.starts_with(wire::kMarker);
}

void TokenSide::feedText(uint8_t byte) {
    m_tail.push_back(static_cast<char>(byte));
    if (m_tail.size() > kTailLength) {
        m_tail.erase(0, m_tail.size() - kTailLength);
    }
    if (m_tail.ends_with(wire::kMarker)) {
        startRun();
    } else if (m_state == State::kAwaitProbe && m_tail.ends_with(wire::kProbe)) {
        onProbe();
    }
}

std::size_t TokenSide::feedHeader(std::span<const uint8_t> bytes) {
    const std::size_t take = std::min(bytes.size(), wire::kHeaderSize - m_header.size());
    m_header.insert(m_header.end(), bytes.begin(), bytes.begin() + take);
    m_recorder.update([&](ImagerRecord& r) { r.run.header = m_header; });
    if (m_header.size() == wire::kHeaderSize) {
        onHeader();
    }
    return take;
}

std::size_t TokenSide::feedBlocks(std::span<const uint8_t> bytes) {
    const std::size_t take = std::min(bytes.size(), wire::kBlockSize - m_block_fill);
    m_recorder.update([&](ImagerRecord& r) {
        r.run.image.insert(r.run.image.end(), bytes.begin(), bytes.begin() + take);
    });
    m_block_fill += take;
    m_received += take;
    if (m_block_fill == wire::kBlockSize) {
        m_block_fill = 0;
        onBlock();
    }
    return take;
}

void TokenSide::startRun() {
    // A new marker means the host has given up on whatever came before:
    // replies still pending belong to an exchange nobody waits for.
    m_outbox.clear();
    m_tail.clear();
    m_header.clear();
    m_length = 0;
    m_received = 0;
    m_block_fill = 0;
    m_block_index = 0;
    m_state = State::kAwaitProbe;
    m_begun = true;
    m_recorder.update([](ImagerRecord& r) {
        ++r.runs;
        r.run = TokenRun{};
        r.run.marker_seen = true;
    });
}

void TokenSide::onProbe() {
    m_tail.clear();
    m_recorder.update([](ImagerRecord& r) { r.run.probe_seen = true; });
    if (say(m_options.probe_delay_ms, m_options.probe_reply, wire::kEcho)) {
        m_state = State::kHeader;
    } else if (m_state != State::kGone && m_options.probe_reply != Reply::kSilent) {
        // A refused probe ends the exchange; a silent imager keeps listening.
        m_state = State::kAwaitMarker;
    }
}

void TokenSide::onHeader() {
    m_length = littleEndian32(m_header, wire::kLengthOffset);
    m_recorder.update([&](ImagerRecord& r) { r.run.image_length = m_length; });
    if (say(m_options.header_delay_ms, m_options.header_reply, wire::kEcho)) {
        m_state = State::kBlocks;
    } else if (m_state != State::kGone) {
        m_state = State::kAwaitMarker;
    }
}

void TokenSide::onBlock() {
    const uint32_t index = m_block_index++;
    const bool last = m_received >= m_length;
    m_recorder.update([&](ImagerRecord& r) {
        r.run.blocks = m_block_index;
        r.run.completed = last;
    });
    m_state = last ? State::kAwaitMarker : State::kBlocks;

    if (m_options.block_fault != BlockFault::kNone && index == m_options.fault_block) {
        m_state = State::kAwaitMarker;
        switch (m_options.block_fault) {
            case BlockFault::kNack:
                say(m_options.block_delay_ms, Reply::kNack, wire::kEcho);
                break;
            case BlockFault::kError:
                say(m_options.block_delay_ms, Reply::kError, wire::kEcho);
                break;
            case BlockFault::kHangUp:
                m_outbox.addHangUp(m_options.block_delay_ms);
                m_state = State::kGone;
                break;
            case BlockFault::kSilent:
            case BlockFault::kNone:
                break;
        }
        return;
    }

    say(m_options.block_delay_ms, Reply::kToken, wire::kEcho);
    if (last && say(0, m_options.taken_reply, wire::kAck) &&
        say(m_options.check_time_ms, m_options.update_reply, wire::kUpdate)) {
        say(m_options.write_time_ms, m_options.final_reply, wire::kAck);
    }
}

bool TokenSide::say(uint32_t delay_ms, Reply reply, std::string_view token) {
    std::string_view text;
    switch (reply) {
        case Reply::kToken:
            text = token;
            break;
        case Reply::kNack:
            text = wire::kNack;
            break;
        case Reply::kError:
            text = wire::kError;
            break;
        case Reply::kSilent:
            return false;
        case Reply::kHangUp:
            m_outbox.addHangUp(delay_ms);
            m_state = State::kGone;
            return false;
    }
    const std::string line = m_options.noise_before + std::string(text) + m_options.noise_after;
    if (m_options.trickle_gap_ms == 0) {
        m_outbox.add(delay_ms, line);
    } else {
        for (std::size_t i = 0; i < line.size(); ++i) {
            m_outbox.add(i == 0 ? delay_ms : m_options.trickle_gap_ms,
                         std::string_view(line).substr(i, 1));
        }
    }
    return reply == Reply::kToken;
}

}  // namespace qor::sim
