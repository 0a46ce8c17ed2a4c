#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/imager_sim.h"
#include "tools/imager_sim_host.h"
#include "tools/imager_sim_image.h"

namespace qor::sim::testing {

// Long enough for any reply the imager gives at once, even under a sanitizer.
inline constexpr uint32_t kAnswerMs = 1000;
// How long a test listens to be sure nothing comes; the imager answers
// within a millisecond when it answers at all.
inline constexpr uint32_t kQuietMs = 150;

inline std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

inline std::span<const uint8_t> blockOf(const std::vector<uint8_t>& image, std::size_t k) {
    return std::span<const uint8_t>(image).subspan(k * 1024, 1024);
}

// A simulated imager with a host on its line, written with plain termios.
class SimLine {
  public:
    explicit SimLine(ImagerOptions options = {}, uint32_t baud = 921600) : m_imager(options) {
        m_ok = m_imager.start() && m_host.open(m_imager.portPath(), baud);
    }

    bool ok() const { return m_ok; }
    ImagerSimulator& imager() { return m_imager; }
    PlainHost& host() { return m_host; }

    // Writes `bytes` and reads until the answer ends with `until`.
    std::string ask(std::span<const uint8_t> bytes, std::string_view until,
                    uint32_t timeout_ms = kAnswerMs) {
        m_host.write(bytes);
        return m_host.readUntil(until, timeout_ms);
    }
    std::string ask(std::string_view text, std::string_view until,
                    uint32_t timeout_ms = kAnswerMs) {
        return ask(bytesOf(text), until, timeout_ms);
    }
    // Writes `bytes` and returns whatever comes back while listening.
    std::string tell(std::span<const uint8_t> bytes, uint32_t listen_ms = kQuietMs) {
        m_host.write(bytes);
        return m_host.readFor(listen_ms);
    }
    std::string tell(std::string_view text, uint32_t listen_ms = kQuietMs) {
        return tell(bytesOf(text), listen_ms);
    }

    // Marker and probe; the answer to the probe.
    std::string connect() {
        m_host.write("%QOR%");
        return ask("*probe", "*echo");
    }

  private:
    ImagerSimulator m_imager;
    PlainHost m_host;
    bool m_ok = false;
};

}  // namespace qor::sim::testing
