#include "update/image_file.h"

#include <algorithm>
#include <cstring>
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
    if (!m_readAhead) {
        m_readAhead = std::make_unique_for_overwrite<uint8_t[]>(kReadAheadBytes);
    }
    // A stream gives up its own buffer only before it opens a file.
    m_file.rdbuf()->pubsetbuf(nullptr, 0);
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
    m_next = m_end = 0;
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
    // The buffer is empty whenever the file is closed: refill() looks.
    std::size_t done = 0;
    while (done < buffer.size() && (m_next < m_end || refill())) {
        const std::size_t count = std::min(buffer.size() - done, m_end - m_next);
        std::memcpy(buffer.data() + done, m_readAhead.get() + m_next, count);
        m_next += count;
        done += count;
    }
    return done;
}

std::span<const uint8_t> ImageFile::next(std::span<uint8_t> scratch) {
    if (m_next == m_end && !refill()) {
        return {};
    }
    if (m_end - m_next < scratch.size()) {
        return scratch.first(read(scratch));
    }
    const std::span<const uint8_t> view(m_readAhead.get() + m_next, scratch.size());
    m_next += scratch.size();
    return view;
}

bool ImageFile::refill() {
    m_next = m_end = 0;
    if (!m_file.is_open()) {
        return false;
    }
    m_file.read(reinterpret_cast<char*>(m_readAhead.get()),
                static_cast<std::streamsize>(kReadAheadBytes));
    // Whatever came before a read error is not to be trusted: the read
    // ends short where the buffer began.
    if (!m_file.bad()) {
        m_end = static_cast<std::size_t>(m_file.gcount());
    }
    return m_end > 0;
}

bool ImageFile::seekToStart() {
    if (!m_file.is_open()) {
        return false;
    }
    m_next = m_end = 0;
    m_file.clear();
    m_file.seekg(0, std::ios::beg);
    return !m_file.fail();
}

}  // namespace qor
