#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace qor {

enum class ImageRead {
    Read,        // `bytes` holds the whole file
    CannotOpen,  // missing, unreadable, a folder, a read that failed, or no
                 // memory to hold it
    Unsuited,    // no regular file, or a length `lengthFits` refuses
};

// Whether an image of `length` bytes can be sent at all.
using ImageLengthCheck = bool (*)(uint64_t length);

// Reads the whole image at `path` into `bytes`, never blocking on what is
// not a regular file: a FIFO, a device or a socket is refused before it is
// read, as is a file whose length cannot be told or that `lengthFits`
// refuses, which is asked before the read and again of what was read (the
// file may change meanwhile). The file is closed again before returning.
ImageRead readImageFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes,
                        ImageLengthCheck lengthFits);

}  // namespace qor
