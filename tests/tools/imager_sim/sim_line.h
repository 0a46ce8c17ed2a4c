#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/imager_sim/host.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/sample_image.h"

namespace qor::sim::testing {

// A deadline for anything the imager does at once: seconds, so that a busy
// machine does not fail a test, and never reached when all goes well.
inline constexpr uint32_t kAnswerMs = 5000;

inline std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

inline std::span<const uint8_t> blockOf(const std::vector<uint8_t>& image, std::size_t k) {
    return std::span<const uint8_t>(image).subspan(k * 1024, 1024);
}

// Writes `bytes` and returns the imager's whole answer to them. Waits on the
// imager's record, not on the clock: once it has acted on every byte written
// and handed over every reply it decided on, what it sent is all there is to
// read, however slowly the machine runs.
inline std::string answerTo(ImagerSimulator& imager, PlainHost& host,
                            std::span<const uint8_t> bytes) {
    // Whatever the imager has read before must be dealt with first, or bytes
    // of an earlier step would count as these.
    const auto caughtUp = [](const ImagerRecord& r) { return r.handled == r.received.size(); };
    if (!imager.waitFor(caughtUp, kAnswerMs)) {
        ADD_FAILURE() << "the imager did not catch up with the line";
    }
    const ImagerRecord before = imager.record();
    if (!host.write(bytes)) {
        ADD_FAILURE() << "the host could not write";
        return {};
    }
    const std::size_t received = before.received.size() + bytes.size();
    if (!imager.waitFor(
            [&](const ImagerRecord& r) {
                return r.hung_up ||
                       (r.received.size() >= received && caughtUp(r) && r.replies_pending == 0);
            },
            kAnswerMs)) {
        ADD_FAILURE() << "the imager did not finish answering";
    }
    const std::vector<uint8_t> got =
        host.read(imager.record().sent.size() - before.sent.size(), kAnswerMs);
    return std::string(got.begin(), got.end());
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
    // Writes `bytes` and returns the imager's whole answer to them.
    std::string tell(std::span<const uint8_t> bytes) { return answerTo(m_imager, m_host, bytes); }
    std::string tell(std::string_view text) { return tell(bytesOf(text)); }

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
