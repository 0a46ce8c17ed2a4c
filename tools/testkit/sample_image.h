#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Sample firmware images and what an imager should receive for them, shared
// by the simulator's self-check, the benchmark and the tests. Written from
// the protocol's description (see tools/imager_sim/wire_bytes.h), not taken from
// the updater, so that a wrong constant on either side shows.
namespace qor::sim {

// A firmware image of `size` bytes with an accepted magic number and
// non-zero header words, whose bytes differ from block to block, so a block
// sent twice, late or out of order shows. An image of 8 bytes holds only
// the magic number and the first word: the second reads as zero.
std::vector<uint8_t> sampleImage(std::size_t size);

// The header message for `image`: its first 8 bytes, then `length` (the
// image's own when negative) as a 32-bit little-endian number.
std::vector<uint8_t> headerFor(const std::vector<uint8_t>& image, int64_t length = -1);

// What a well-behaved imager receives for `image`: the marker, the probe,
// the header message, then the image unchanged.
std::vector<uint8_t> expectedWire(const std::vector<uint8_t>& image);

}  // namespace qor::sim
