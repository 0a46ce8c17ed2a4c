#include "update/image_header.h"

#include <algorithm>
#include <array>

#include "update/image_path.h"
#include "update/image_read.h"

namespace qor {

namespace {

// The magic numbers of the imagers' firmware images, as read little-endian
// from offsets 0 to 3. Only 0x37352B98 and 0x982B3537 are one byte sequence
// in both orders; a byte-swapped form of any other entry is not an image.
constexpr std::array<uint32_t, 9> kAcceptedMagic = {
    0x53690145,  // 45 01 69 53
    0x4781156E,  // 6E 15 81 47
    0xA87C126B,  // 6B 12 7C A8
    0xCF9A1518,  // 18 15 9A CF
    0xD504A927,  // 27 A9 04 D5
    0x2A53504C,  // 4C 50 53 2A
    0x54574243,  // 43 42 57 54
    0x37352B98,  // 98 2B 35 37
    0x982B3537,  // 37 35 2B 98
};

uint32_t littleEndianWord(const std::vector<uint8_t>& bytes, std::size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

}  // namespace

// The header announces the image's length in 32 bits, so a file of 4 GiB or
// more would be sent as whatever its length is modulo 4 GiB. A tail shorter
// than a block would go out as a whole block's worth of bytes that are not
// there, and the imager would be left with an unfinished update.
bool isSendableLength(uint64_t length) {
    return length <= 0xFFFFFFFFu && length % kBlockSize == 0;
}

ImageHeaderResult LoadFirmwareImage(std::string_view path, FirmwareImage& image) {
    image = FirmwareImage{};
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    switch (readImageFile(imagePathFromUtf8(path), *bytes, isSendableLength)) {
        case ImageRead::CannotOpen:
            return ImageHeaderResult::CannotOpen;
        case ImageRead::Unsuited:
            // Nothing the header could describe, or nothing an imager can
            // take: refused like a file that is no image, before any device
            // is touched.
            return ImageHeaderResult::NotFirmware;
        case ImageRead::Read:
            break;
    }
    // Whole blocks and not empty: the header's 12 bytes are there.
    if (bytes->size() < kBlockSize) {
        return ImageHeaderResult::NotFirmware;
    }
    const uint32_t magic = littleEndianWord(*bytes, 0);
    if (std::find(kAcceptedMagic.begin(), kAcceptedMagic.end(), magic) == kAcceptedMagic.end()) {
        return ImageHeaderResult::NotFirmware;
    }
    image.header = {magic, littleEndianWord(*bytes, 4), littleEndianWord(*bytes, 8)};
    image.bytes = std::move(bytes);
    return ImageHeaderResult::HeaderRead;
}

ImageHeaderResult ReadImageHeader(std::string_view path, FirmwareHeader& header) {
    FirmwareImage image;
    const ImageHeaderResult result = LoadFirmwareImage(path, image);
    header = image.header;
    return result;
}

bool CheckHeaderWords(const FirmwareHeader& header) {
    return header.word1 != 0 && header.word2 != 0;
}

}  // namespace qor
