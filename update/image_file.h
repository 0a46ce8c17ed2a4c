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

    // The next `scratch.size()` bytes, as read() gives them: seen in place
    // when the read-ahead buffer holds them all, else copied into `scratch`.
    // Valid until the next call on the file.
    std::span<const uint8_t> next(std::span<uint8_t> scratch);

    // Moves the read position back to the first byte.
    bool seekToStart();

  private:
    // Reads from the disk go through this buffer, many blocks at a time: a
    // read is a system call, and dozens of workers each read a block every
    // few milliseconds. The stream itself is unbuffered, so a block comes
    // straight out of this buffer, without the stream's bookkeeping between.
    static constexpr std::size_t kReadAheadBytes = 64 * 1024;
    bool refill();

    std::unique_ptr<uint8_t[]> m_readAhead;
    std::size_t m_next = 0;  // the first byte of the buffer not yet read
    std::size_t m_end = 0;   // behind the last byte the buffer holds
    std::ifstream m_file;
};

}  // namespace qor
