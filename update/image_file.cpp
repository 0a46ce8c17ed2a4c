#include "update/image_file.h"

#include <filesystem>
#include <system_error>

#include "update/image_path.h"

namespace qor {

bool ImageFile::open(std::string_view path) {
    close();
    const std::filesystem::path file = imagePathFromUtf8(path);
    // Linux opens a folder like a file and only fails its reads; Windows
    // refuses to open it. Refuse it here too, so both fail alike.
    std::error_code ignored;
    if (file.empty() || std::filesystem::is_directory(file, ignored)) {
        return false;
    }
    // A stream takes its buffer only before it opens a file.
    if (!m_readAhead) {
        m_readAhead = std::make_unique<char[]>(kReadAheadBytes);
    }
    m_file.rdbuf()->pubsetbuf(m_readAhead.get(), kReadAheadBytes);
    // The C library's default sharing lets every other reader and writer in,
    // on Windows as well.
    m_file.open(file, std::ios::in | std::ios::binary);
    return m_file.is_open();
}

void ImageFile::close() {
    if (m_file.is_open()) {
        m_file.close();
    }
    m_file.clear();
}

uint64_t ImageFile::length() {
    if (!m_file.is_open()) {
        return 0;
    }
    // A short read before leaves eofbit and failbit set, which would make
    // every seek a no-op.
    m_file.clear();
    const std::streampos here = m_file.tellg();
    m_file.seekg(0, std::ios::end);
    const std::streampos end = m_file.tellg();
    m_file.seekg(here < 0 ? std::streampos(0) : here);
    return end < 0 ? 0 : static_cast<uint64_t>(static_cast<std::streamoff>(end));
}

std::size_t ImageFile::read(std::span<uint8_t> buffer) {
    if (!m_file.is_open() || buffer.empty()) {
        return 0;
    }
    m_file.read(reinterpret_cast<char*>(buffer.data()),
                static_cast<std::streamsize>(buffer.size()));
    const auto count = static_cast<std::size_t>(m_file.gcount());
    if (m_file.bad()) {
        // Whatever came before the error is not to be trusted as a whole
        // block; never report a full one.
        return count < buffer.size() ? count : buffer.size() - 1;
    }
    return count;
}

bool ImageFile::seekToStart() {
    if (!m_file.is_open()) {
        return false;
    }
    m_file.clear();
    m_file.seekg(0, std::ios::beg);
    return !m_file.fail();
}

}  // namespace qor
