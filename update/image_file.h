#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <span>
#include <string_view>

namespace qor {

// A firmware image opened for reading. Every worker of a run holds its own
// handle of the same file at the same time, and nobody else is kept from
// opening it either. Closed by the destructor at the latest.
class ImageFile {
  public:
    // Opens `path` (UTF-8) read-only and untranslated. False when it cannot
    // be opened or is a folder, which cannot be read as an image.
    bool open(std::string_view path);
    bool isOpen() const { return m_file.is_open(); }
    void close();

    // Length of the file in bytes; 0 when it cannot be told.
    uint64_t length();

    // Reads up to `buffer.size()` bytes from the current position and returns
    // how many came. A read error ends the read there, so the caller sees it
    // as a short read.
    std::size_t read(std::span<uint8_t> buffer);

    // Moves the read position back to the first byte.
    bool seekToStart();

  private:
    // Reads from the disk go through this buffer, many blocks at a time: a
    // read is a system call, and dozens of workers each read a block every
    // few milliseconds.
    static constexpr std::size_t kReadAheadBytes = 64 * 1024;
    std::unique_ptr<char[]> m_readAhead;
    std::ifstream m_file;
};

}  // namespace qor
