#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace qor {

enum class ImageStart {
    Read,        // the bytes are read; what a short file lacks is left as it was
    CannotOpen,  // missing, unreadable, a folder, or a read that failed
    Unsuited,    // no regular file, or a length the header cannot announce
};

// The header announces the image's length in 32 bits, so a file of 4 GiB or
// more would be sent as whatever its length is modulo 4 GiB.
inline constexpr uint64_t kLargestImageLength = 0xFFFFFFFFu;

// Reads the first bytes of the image at `path`, never blocking on what is
// not a regular file: a FIFO, a device or a socket is refused before it is
// read, as is a file whose length cannot be told or exceeds
// kLargestImageLength. The file is closed again before returning.
ImageStart readImageStart(const std::filesystem::path& path, std::span<uint8_t> bytes);

}  // namespace qor
