#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tools/imager_sim/options.h"
#include "tools/imager_sim/outbox.h"
#include "tools/imager_sim/record.h"
#include "tools/imager_sim/wire_bytes.h"

namespace qor::sim {

// The RS-232 imager's setup exchange: it understands packets only at its own
// line rate, answers the probe packet and switches into update mode once the
// setup commands have come in their order.
class SetupSide {
  public:
    enum class Event {
        kNone,
        kProbeAnswered,
        kSwitched,  // the setup commands are complete: token exchange from now on
    };

    SetupSide(const ImagerOptions& options, Recorder& recorder, Outbox& outbox);

    // `baud` is the host's line rate while these bytes came. Stops right
    // behind the packet that completes the switch into update mode, since
    // what follows it is the token exchange's; `used`, when given, receives
    // the number of bytes taken.
    Event feed(std::span<const uint8_t> bytes, uint32_t baud, std::size_t* used = nullptr);

  private:
    Event onPacket(const wire::SetupPacketBytes& packet, uint32_t baud);
    void answerProbe();

    const ImagerOptions& m_options;
    Recorder& m_recorder;
    Outbox& m_outbox;

    std::vector<uint8_t> m_pending;  // a packet begun but not complete
    uint32_t m_pending_baud = 0;
    bool m_answered = false;     // the probe was answered; setup commands are welcome
    std::size_t m_progress = 0;  // setup commands received in order so far
};

}  // namespace qor::sim
