#pragma once

#include <cstdint>
#include <span>

#include "tools/imager_sim/options.h"
#include "tools/imager_sim/outbox.h"
#include "tools/imager_sim/record.h"
#include "tools/imager_sim/setup_side.h"
#include "tools/imager_sim/token_side.h"

namespace qor::sim {

// The whole imager as the line sees it, free of any OS call: bytes and the
// host's line rate go in, replies come out through the outbox. It decides
// which exchange the bytes belong to and whether the imager can hear them
// at the rate they came at.
class ImagerPeer {
  public:
    ImagerPeer(const ImagerOptions& options, Recorder& recorder, Outbox& outbox);

    void feed(std::span<const uint8_t> bytes, uint32_t host_baud);

    // True once the host has opened a token exchange.
    bool exchangeBegun() const { return m_token.begun(); }
    // Image bytes taken in the token exchange under way.
    uint64_t imageBytes() const { return m_token.imageBytes(); }

  private:
    const ImagerOptions& m_options;
    SetupSide m_setup;
    TokenSide m_token;
    bool m_update_mode;
};

}  // namespace qor::sim
