#include "tools/imager_sim_outbox.h"

namespace qor::sim {

void Outbox::add(uint32_t delay_ms, std::span<const uint8_t> bytes) {
    m_entries.push_back(
        Outgoing{delay_ms, std::vector<uint8_t>(bytes.begin(), bytes.end()), false});
}

void Outbox::add(uint32_t delay_ms, std::string_view text) {
    add(delay_ms,
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void Outbox::addHangUp(uint32_t delay_ms) {
    m_entries.push_back(Outgoing{delay_ms, {}, true});
}

void Outbox::clear() {
    m_entries.clear();
    m_head_due.reset();
}

void Outbox::arm(uint32_t now_ms) {
    if (!m_entries.empty() && !m_head_due) {
        m_head_due = now_ms + m_entries.front().delay_ms;
    }
}

std::optional<uint32_t> Outbox::msUntilDue(uint32_t now_ms) const {
    if (!m_head_due) {
        return std::nullopt;
    }
    // Signed view of the tick difference: a due time just passed is
    // "due now", not four billion milliseconds away.
    const auto left = static_cast<int32_t>(*m_head_due - now_ms);
    return left > 0 ? static_cast<uint32_t>(left) : 0u;
}

void Outbox::pop(uint32_t now_ms) {
    m_entries.pop_front();
    m_head_due.reset();
    arm(now_ms);
}

}  // namespace qor::sim
