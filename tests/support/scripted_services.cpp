#include "tests/support/scripted_services.h"

#include <utility>

namespace qor::testing {

ManualClock& ScriptedServices::manualClock(int deviceIndex) {
    std::lock_guard lock(m_mutex);
    auto& clock = m_clocks[m_oneClock ? kUiThread : deviceIndex];
    if (!clock) {
        clock = std::make_unique<ManualClock>(1000);
    }
    return *clock;
}

ScriptedLine& ScriptedServices::line(const std::string& name, int deviceIndex) {
    ManualClock& clock = manualClock(deviceIndex);
    std::lock_guard lock(m_mutex);
    auto& line = m_lines[name];
    if (!line) {
        line = std::make_unique<ScriptedLine>(clock);
    }
    return *line;
}

bool ScriptedServices::hasLine(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    return m_lines.count(name) != 0;
}

PortHandle ScriptedServices::openComPort(std::string_view name, uint32_t baud) {
    ScriptedLine* line = nullptr;
    {
        std::lock_guard lock(m_mutex);
        auto found = m_lines.find(name);
        if (found == m_lines.end()) {
            return m_real ? m_real->openComPort(name, baud) : nullptr;
        }
        line = found->second.get();
    }
    return line->open(baud);
}

RegistryReader& ScriptedServices::registry() {
    if (auto hook = std::exchange(beforeRegistry, nullptr)) {
        hook();
    }
    return m_systemRegistry ? m_real->registry() : m_registry;
}

}  // namespace qor::testing
