#include "tools/imager_sim/setup_side.h"

#include <algorithm>
#include <array>

namespace qor::sim {

SetupSide::SetupSide(const ImagerOptions& options, Recorder& recorder, Outbox& outbox)
    : m_options(options), m_recorder(recorder), m_outbox(outbox) {}

SetupSide::Event SetupSide::feed(std::span<const uint8_t> bytes, uint32_t baud, std::size_t* used) {
    // Bytes of a packet begun at another rate cannot belong to this one: the
    // host reopens the line for every rate it tries.
    if (baud != m_pending_baud) {
        m_pending.clear();
        m_pending_baud = baud;
    }
    Event last = Event::kNone;
    std::size_t taken = 0;
    for (const uint8_t byte : bytes) {
        ++taken;
        // Resynchronise on the packet's two leading bytes, so that noise in
        // front of a packet costs only the noise.
        if (m_pending.empty() && byte != wire::kPacketLead) {
            continue;
        }
        if (m_pending.size() == 1 && byte != wire::kPacketKind) {
            m_pending.clear();
            if (byte == wire::kPacketLead) {
                m_pending.push_back(byte);
            }
            continue;
        }
        m_pending.push_back(byte);
        if (m_pending.size() == wire::SetupPacketBytes{}.size()) {
            wire::SetupPacketBytes packet{};
            std::copy(m_pending.begin(), m_pending.end(), packet.begin());
            m_pending.clear();
            if (const Event event = onPacket(packet, baud); event != Event::kNone) {
                last = event;
            }
            if (last == Event::kSwitched) {
                break;
            }
        }
    }
    if (used != nullptr) {
        *used = taken;
    }
    return last;
}

SetupSide::Event SetupSide::onPacket(const wire::SetupPacketBytes& packet, uint32_t baud) {
    m_recorder.update([&](ImagerRecord& r) {
        r.setup_packets.push_back(SetupPacket{packet, baud});
    });
    if (baud != m_options.rs232_baud) {
        return Event::kNone;  // at a foreign rate the imager hears only noise
    }
    if (packet == wire::kSetupProbe) {
        answerProbe();
        return Event::kProbeAnswered;
    }
    if (!m_answered) {
        return Event::kNone;
    }
    const auto& sequence = wire::kSetupSequence;
    if (packet == sequence[m_progress]) {
        ++m_progress;
    } else {
        m_progress = packet == sequence[0] ? 1 : 0;
    }
    if (m_progress < sequence.size()) {
        return Event::kNone;
    }
    m_answered = false;
    m_progress = 0;
    m_recorder.update([](ImagerRecord& r) { r.update_mode = true; });
    return Event::kSwitched;
}

void SetupSide::answerProbe() {
    std::vector<uint8_t> reply(wire::kSetupReply.begin(), wire::kSetupReply.end());
    switch (m_options.setup_fault) {
        case SetupFault::kWrongByte:
            ++reply.back();
            break;
        case SetupFault::kStrayByte:
            reply.insert(reply.begin(), 0x00);
            break;
        case SetupFault::kTruncated:
            reply.pop_back();
            break;
        case SetupFault::kNone:
        case SetupFault::kSilentAfterReply:
            break;
    }
    m_outbox.add(0, reply);
    m_answered = m_options.setup_fault != SetupFault::kSilentAfterReply;
    m_progress = 0;
    m_recorder.update([](ImagerRecord& r) {
        ++r.setup_answers;
        r.update_mode = false;
    });
}

}  // namespace qor::sim
