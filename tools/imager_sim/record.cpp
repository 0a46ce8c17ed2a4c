#include "tools/imager_sim/record.h"

#include <chrono>

namespace qor::sim {

ImagerRecord Recorder::snapshot() const {
    std::lock_guard lock(m_mutex);
    return m_record;
}

void Recorder::update(const std::function<void(ImagerRecord&)>& change) {
    {
        std::lock_guard lock(m_mutex);
        change(m_record);
    }
    m_changed.notify_all();
}

void Recorder::addReceived(std::span<const uint8_t> bytes) {
    update(
        [&](ImagerRecord& r) { r.received.insert(r.received.end(), bytes.begin(), bytes.end()); });
}

bool Recorder::waitFor(const std::function<bool(const ImagerRecord&)>& done,
                       uint32_t timeout_ms) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                              [&] { return done(m_record); });
}

}  // namespace qor::sim
