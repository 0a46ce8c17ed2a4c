#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/imager_sim/options.h"
#include "tools/imager_sim/outbox.h"
#include "tools/imager_sim/record.h"

namespace qor::sim {

// The imager's half of the token exchange: finds the marker and the probe in
// the text the host sends, takes the header message and the blocks, and
// queues the scripted replies.
class TokenSide {
  public:
    TokenSide(const ImagerOptions& options, Recorder& recorder, Outbox& outbox);

    void feed(std::span<const uint8_t> bytes);

    // True while the line carries text (between exchanges or before the
    // probe) rather than the header message or image data.
    bool expectsText() const;

    // True once a marker has come.
    bool begun() const { return m_begun; }

    // Image bytes taken in the exchange under way.
    uint64_t imageBytes() const { return m_received; }

    // Forgets the exchange under way; the next marker starts a new one.
    void reset();

  private:
    enum class State { kAwaitMarker, kAwaitProbe, kHeader, kBlocks, kGone };

    bool markerWhereDataBegins(std::span<const uint8_t> bytes) const;
    void feedText(uint8_t byte);
    std::size_t feedHeader(std::span<const uint8_t> bytes);
    std::size_t feedBlocks(std::span<const uint8_t> bytes);
    void startRun();
    void onProbe();
    void onHeader();
    void onBlock();
    // Queues the reply for one step; true when it was the step's own token,
    // so that the exchange goes on.
    bool say(uint32_t delay_ms, Reply reply, std::string_view token);

    const ImagerOptions& m_options;
    Recorder& m_recorder;
    Outbox& m_outbox;

    State m_state = State::kAwaitMarker;
    bool m_begun = false;
    std::string m_tail;  // the latest text bytes: tokens may be split over reads
    std::vector<uint8_t> m_header;
    uint32_t m_length = 0;
    uint64_t m_received = 0;  // image bytes of this exchange
    std::size_t m_block_fill = 0;
    uint32_t m_block_index = 0;
};

}  // namespace qor::sim
