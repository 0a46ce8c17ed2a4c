#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/unique_fd.h"
#include "update/image_start.h"

namespace qor {

namespace {

// A folder fails as it always has (its read fails with EISDIR): silently.
// Anything else that is no regular file would block a read or hand over
// bytes that are not a file's.
ImageStart kindOf(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) {
        return ImageStart::CannotOpen;
    }
    if (!S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<uint64_t>(info.st_size) > kLargestImageLength) {
        return ImageStart::Unsuited;
    }
    return ImageStart::Read;
}

}  // namespace

ImageStart readImageStart(const std::filesystem::path& path, std::span<uint8_t> bytes) {
    if (path.empty()) {
        return ImageStart::CannotOpen;
    }
    // Looked at before opening: opening a device can have effects of its
    // own (a serial port raises its modem lines).
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return ImageStart::CannotOpen;
    }
    if (const ImageStart kind = kindOf(info); kind != ImageStart::Read) {
        return kind;
    }
    // O_NONBLOCK: should the name have been swapped for a FIFO since, the
    // open does not wait for a writer.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) {
        return ImageStart::CannotOpen;
    }
    if (::fstat(file.get(), &info) != 0) {
        return ImageStart::Unsuited;  // its length cannot be told
    }
    if (const ImageStart kind = kindOf(info); kind != ImageStart::Read) {
        return kind;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.get(), bytes.data() + done, bytes.size() - done);
        if (got == 0) {
            break;  // a short file
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ImageStart::CannotOpen;
        }
        done += static_cast<std::size_t>(got);
    }
    return ImageStart::Read;
}

}  // namespace qor
