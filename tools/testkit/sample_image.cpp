#include "tools/testkit/sample_image.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "tools/imager_sim/wire_bytes.h"

namespace qor::sim {

std::vector<uint8_t> sampleImage(std::size_t size) {
    std::vector<uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<uint8_t>((i * 31) ^ (i >> 10));
    }
    // Magic 0x2A53504C little-endian, then the words 1 and 7.
    const uint8_t header[] = {0x4C, 0x50, 0x53, 0x2A, 0x01, 0x00,
                              0x00, 0x00, 0x07, 0x00, 0x00, 0x00};
    std::copy_n(std::begin(header), std::min(size, sizeof header), image.begin());
    return image;
}

std::vector<uint8_t> headerFor(const std::vector<uint8_t>& image, int64_t length) {
    const auto value =
        static_cast<uint32_t>(length < 0 ? static_cast<int64_t>(image.size()) : length);
    const std::size_t leading = std::min(image.size(), wire::kLengthOffset);
    std::vector<uint8_t> header(image.begin(), image.begin() + static_cast<long>(leading));
    for (int shift = 0; shift < 32; shift += 8) {
        header.push_back(static_cast<uint8_t>(value >> shift));
    }
    return header;
}

std::vector<uint8_t> expectedWire(const std::vector<uint8_t>& image) {
    std::vector<uint8_t> bytes;
    for (const std::string_view token : {wire::kMarker, wire::kProbe}) {
        for (const char c : token) {
            bytes.push_back(static_cast<uint8_t>(c));
        }
    }
    const std::vector<uint8_t> header = headerFor(image);
    bytes.insert(bytes.end(), header.begin(), header.end());
    bytes.insert(bytes.end(), image.begin(), image.end());
    return bytes;
}

}  // namespace qor::sim
