#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "base/unique_fd.h"
#include "update/image_read.h"

namespace qor {

namespace {

// A folder fails as it always has (its read fails with EISDIR): silently.
// Anything else that is no regular file would block a read or hand over
// bytes that are not a file's.
ImageRead kindOf(const struct stat& info, ImageLengthCheck lengthFits) {
    if (S_ISDIR(info.st_mode)) {
        return ImageRead::CannotOpen;
    }
    if (!S_ISREG(info.st_mode) || info.st_size < 0 ||
        !lengthFits(static_cast<uint64_t>(info.st_size))) {
        return ImageRead::Unsuited;
    }
    return ImageRead::Read;
}

// Reads to the end of the file, which had `expected` bytes when it was
// looked at; one that has grown since is being written and is refused.
ImageRead readToEnd(int file, std::vector<uint8_t>& bytes, std::size_t expected) {
    constexpr std::size_t kChunk = 64 * 1024;
    try {
        bytes.reserve(expected);
        for (;;) {
            if (bytes.size() > expected) {
                return ImageRead::Unsuited;
            }
            const std::size_t done = bytes.size();
            bytes.resize(done + kChunk);
            const ssize_t got = ::read(file, bytes.data() + done, kChunk);
            bytes.resize(done + (got > 0 ? static_cast<std::size_t>(got) : 0));
            if (got == 0) {
                return ImageRead::Read;
            }
            if (got < 0 && errno != EINTR) {
                return ImageRead::CannotOpen;
            }
        }
    } catch (const std::bad_alloc&) {
        return ImageRead::CannotOpen;
    }
}

}  // namespace

ImageRead readImageFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes,
                        ImageLengthCheck lengthFits) {
    bytes.clear();
    if (path.empty()) {
        return ImageRead::CannotOpen;
    }
    // Looked at before opening: opening a device can have effects of its
    // own (a serial port raises its modem lines).
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return ImageRead::CannotOpen;
    }
    if (const ImageRead kind = kindOf(info, lengthFits); kind != ImageRead::Read) {
        return kind;
    }
    // O_NONBLOCK: should the name have been swapped for a FIFO since, the
    // open does not wait for a writer.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) {
        return ImageRead::CannotOpen;
    }
    if (::fstat(file.get(), &info) != 0) {
        return ImageRead::Unsuited;  // its length cannot be told
    }
    if (const ImageRead kind = kindOf(info, lengthFits); kind != ImageRead::Read) {
        return kind;
    }
    if (const ImageRead read = readToEnd(file.get(), bytes, static_cast<std::size_t>(info.st_size));
        read != ImageRead::Read) {
        bytes.clear();
        return read;
    }
    if (!lengthFits(bytes.size())) {
        bytes.clear();
        return ImageRead::Unsuited;
    }
    return ImageRead::Read;
}

}  // namespace qor
