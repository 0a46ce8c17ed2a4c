#include "tests/support/sample_image.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace qor::testing {

std::vector<uint8_t> sampleImage(std::size_t size) {
    std::vector<uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>((i * 31) ^ (i >> 10));
    }
    const uint8_t header[] = {0x4C, 0x50, 0x53, 0x2A, 0x01, 0x00,
                              0x00, 0x00, 0x07, 0x00, 0x00, 0x00};
    std::copy_n(std::begin(header), std::min(size, sizeof header), image.begin());
    return image;
}

std::vector<uint8_t> expectedWire(const std::vector<uint8_t>& image) {
    std::vector<uint8_t> wire;
    for (char c : std::string("%QOR%*probe")) {
        wire.push_back(static_cast<uint8_t>(c));
    }
    for (std::size_t i = 0; i < 8 && i < image.size(); ++i) {
        wire.push_back(image[i]);
    }
    const auto length = static_cast<uint32_t>(image.size());
    for (int shift = 0; shift < 32; shift += 8) {
        wire.push_back(static_cast<uint8_t>(length >> shift));
    }
    for (uint8_t byte : image) {
        wire.push_back(byte);
    }
    return wire;
}

}  // namespace qor::testing
