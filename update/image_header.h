#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qor {

inline constexpr std::size_t kFirmwareHeaderSize = 12;

// The first 12 bytes of a firmware image, each word read little-endian
// whatever the host's byte order.
struct FirmwareHeader {
    uint32_t magic = 0;
    uint32_t word1 = 0;
    uint32_t word2 = 0;
};

enum class ImageHeaderResult {
    HeaderRead,   // accepted magic number; the header is filled in
    CannotOpen,   // the file cannot be opened or read
    NotFirmware,  // the magic number is not one the imagers accept, or the
                  // file is none the header can describe (see image_start.h)
};

// Reads the header of the image at `path` (UTF-8). The header is zeroed
// first and filled only for HeaderRead; bytes a short file lacks count as
// zero. The file is opened read-only and is closed again before returning;
// a FIFO or device given as the image is refused without being read.
ImageHeaderResult ReadImageHeader(std::string_view path, FirmwareHeader& header);

// True when word1 and word2 are both non-zero.
bool CheckHeaderWords(const FirmwareHeader& header);

}  // namespace qor
