#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qor::testing {

// A firmware image of `size` bytes with an accepted magic number and
// non-zero header words, whose bytes differ from block to block, so a block
// sent twice, late or out of order shows.
std::vector<uint8_t> sampleImage(std::size_t size);

// What a well-behaved imager receives for `image`: the marker, the probe,
// the header message (the image's first eight bytes, then its length
// little-endian), then the image unchanged. Written out here on its own
// rather than taken from the product, so a wrong constant there shows.
std::vector<uint8_t> expectedWire(const std::vector<uint8_t>& image);

}  // namespace qor::testing
