#include "tools/imager_sim/outbox.h"

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
    m_head_ready.reset();
}

void Outbox::arm(uint64_t now_us) {
    if (!m_entries.empty() && !m_head_due) {
        m_head_due = now_us + uint64_t{m_entries.front().delay_ms} * 1000;
    }
}

void Outbox::pop(uint64_t now_us) {
    m_entries.pop_front();
    m_head_due.reset();
    m_head_ready.reset();
    arm(now_us);
}

}  // namespace qor::sim
