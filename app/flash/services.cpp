#include "app/flash/services.h"

namespace qor {

ConsoleServices::ConsoleServices(StopControl& stop) : m_stop(stop) {
    for (size_t slot = 0; slot < m_clocks.size(); ++slot) {
        m_clocks[slot] = std::make_unique<StoppableClock>(stop, static_cast<int>(slot) - 1);
    }
}

Clock& ConsoleServices::clock(int deviceIndex) {
    const int slot = deviceIndex + 1;
    if (slot <= 0 || slot >= static_cast<int>(m_clocks.size())) {
        return *m_clocks[0];
    }
    std::lock_guard lock(m_mutex);
    m_threadDevices[std::this_thread::get_id()] = deviceIndex;
    return *m_clocks[static_cast<size_t>(slot)];
}

int ConsoleServices::currentDevice() const {
    std::lock_guard lock(m_mutex);
    const auto it = m_threadDevices.find(std::this_thread::get_id());
    return it != m_threadDevices.end() ? it->second : Services::kUiThread;
}

PortHandle ConsoleServices::openComPort(std::string_view name, uint32_t baud) {
    OpenFailure failure;
    PortHandle port = OpenComPort(name, baud, &failure);
    std::lock_guard lock(m_mutex);
    const std::thread::id thread = std::this_thread::get_id();
    if (!port) {
        m_openFailures[thread] = failure;
        return nullptr;
    }
    m_openFailures.erase(thread);
    const auto it = m_threadDevices.find(thread);
    const int device = it != m_threadDevices.end() ? it->second : Services::kUiThread;
    return std::make_unique<StoppablePort>(std::move(port), m_stop, device);
}

std::optional<OpenFailure> ConsoleServices::takeOpenFailure() {
    std::lock_guard lock(m_mutex);
    const auto it = m_openFailures.find(std::this_thread::get_id());
    if (it == m_openFailures.end()) {
        return std::nullopt;
    }
    OpenFailure failure = std::move(it->second);
    m_openFailures.erase(it);
    return failure;
}

}  // namespace qor
