#pragma once

#include <cstddef>
#include <cstdint>

namespace qor::sim {

// How long bytes occupy the line. A pty moves 1029 bytes in microseconds at
// any rate, so a simulator that has to take as long as a real serial line
// must add the wire time itself: 8N1 framing carries rate/10 bytes a second.
// The simulator asks the model before every write and holds the next reply
// back for that long; received bytes are taken as they come.
class WireModel {
  public:
    virtual ~WireModel() = default;
    virtual uint32_t transferMs(std::size_t bytes, uint32_t baud) const = 0;
};

// The pty as it is: no wire time at all. The only model so far; a throttling
// one plugs in beside it.
class InstantWire final : public WireModel {
  public:
    uint32_t transferMs(std::size_t, uint32_t) const override { return 0; }
};

}  // namespace qor::sim
