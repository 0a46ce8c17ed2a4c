#include "update/image_header.h"

#include <algorithm>
#include <array>

#include "update/image_path.h"
#include "update/image_start.h"

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

using HeaderBytes = std::array<uint8_t, kFirmwareHeaderSize>;

uint32_t littleEndianWord(const HeaderBytes& bytes, std::size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

}  // namespace

ImageHeaderResult ReadImageHeader(std::string_view path, FirmwareHeader& header) {
    header = FirmwareHeader{};
    HeaderBytes bytes{};
    switch (readImageStart(imagePathFromUtf8(path), bytes)) {
        case ImageStart::CannotOpen:
            return ImageHeaderResult::CannotOpen;
        case ImageStart::Unsuited:
            // Nothing the header could describe: refused like a file that
            // is no image, before any device is touched.
            return ImageHeaderResult::NotFirmware;
        case ImageStart::Read:
            break;
    }
    const uint32_t magic = littleEndianWord(bytes, 0);
    if (std::find(kAcceptedMagic.begin(), kAcceptedMagic.end(), magic) == kAcceptedMagic.end()) {
        return ImageHeaderResult::NotFirmware;
    }
    header.magic = magic;
    header.word1 = littleEndianWord(bytes, 4);
    header.word2 = littleEndianWord(bytes, 8);
    return ImageHeaderResult::HeaderRead;
}

bool CheckHeaderWords(const FirmwareHeader& header) {
    return header.word1 != 0 && header.word2 != 0;
}

}  // namespace qor
