#include "tools/imager_sim/peer.h"

#include "tools/imager_sim/wire_bytes.h"

namespace qor::sim {

ImagerPeer::ImagerPeer(const ImagerOptions& options, Recorder& recorder, Outbox& outbox)
    : m_options(options),
      m_setup(options, recorder, outbox),
      m_token(options, recorder, outbox),
      m_update_mode(options.rs232_baud == 0) {}

void ImagerPeer::feed(std::span<const uint8_t> bytes, uint32_t host_baud) {
    // A USB imager is a virtual serial port: the line rate means nothing to it.
    if (m_options.rs232_baud == 0) {
        m_token.feed(bytes);
        return;
    }
    if (!m_update_mode) {
        std::size_t used = 0;
        if (m_setup.feed(bytes, host_baud, &used) != SetupSide::Event::kSwitched) {
            return;
        }
        m_update_mode = true;
        m_token.reset();
        // The host may have reopened the line and begun the token exchange
        // before these bytes were read: the rest of the chunk is its.
        bytes = bytes.subspan(used);
        if (bytes.empty()) {
            return;
        }
    }
    // Between exchanges the imager still knows its setup probe, so a second
    // run's baud scan finds it again.
    if (m_token.expectsText() && host_baud == m_options.rs232_baud &&
        m_setup.feed(bytes, host_baud) == SetupSide::Event::kProbeAnswered) {
        m_update_mode = false;
        m_token.reset();
        return;
    }
    if (host_baud == wire::updateBaudFor(m_options.rs232_baud)) {
        m_token.feed(bytes);
    }
}

}  // namespace qor::sim
