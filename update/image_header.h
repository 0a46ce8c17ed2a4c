#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace qor {

inline constexpr std::size_t kFirmwareHeaderSize = 12;

// The imager takes the image in blocks of exactly this size, each answered
// before the next goes out; an image is whole blocks.
inline constexpr std::size_t kBlockSize = 1024;

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
    NotFirmware,  // the magic number is not one the imagers accept, the
                  // file is not whole blocks, or it is none the header can
                  // describe (no regular file, 4 GiB or more)
};

// An image as a run reads it, once: the bytes that were checked are the
// bytes every worker of the run sends, whatever happens to the file.
struct FirmwareImage {
    FirmwareHeader header;
    std::shared_ptr<const std::vector<uint8_t>> bytes;  // the whole file; none unless read
};

// Reads the image at `path` (UTF-8) whole and checks it: an accepted magic
// number, whole blocks, less than 4 GiB (the header announces the length in
// 32 bits). `image` is emptied first and filled only for HeaderRead. The file
// is opened read-only and is closed again before returning; a FIFO or device
// given as the image is refused without being read.
ImageHeaderResult LoadFirmwareImage(std::string_view path, FirmwareImage& image);

// The same check, keeping only the header.
ImageHeaderResult ReadImageHeader(std::string_view path, FirmwareHeader& header);

// True when an image of `length` bytes can be sent at all: whole blocks,
// less than 4 GiB. Asked before a file is read.
bool isSendableLength(uint64_t length);

// True when word1 and word2 are both non-zero.
bool CheckHeaderWords(const FirmwareHeader& header);

}  // namespace qor
