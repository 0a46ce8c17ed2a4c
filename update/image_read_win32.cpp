#include <windows.h>

#include <new>

#include "base/unique_handle_win32.h"
#include "update/image_read.h"

namespace qor {

ImageRead readImageFile(const std::filesystem::path& path, std::vector<uint8_t>& bytes,
                        ImageLengthCheck lengthFits) {
    bytes.clear();
    if (path.empty()) {
        return ImageRead::CannotOpen;
    }
    // A folder is not opened without FILE_FLAG_BACKUP_SEMANTICS, so it fails
    // here, silently, as it always has. Every other reader and writer is let
    // in: the file is read once, and nobody is kept from replacing it.
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return ImageRead::CannotOpen;
    }
    // A pipe, a console or a serial port would block a read or hand over
    // bytes that are not a file's.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        return ImageRead::Unsuited;
    }
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.get(), &length) || length.QuadPart < 0 ||
        !lengthFits(static_cast<uint64_t>(length.QuadPart))) {
        return ImageRead::Unsuited;
    }
    // To the end of the file; one that has grown since it was looked at is
    // being written and is refused.
    const auto expected = static_cast<std::size_t>(length.QuadPart);
    constexpr DWORD kChunk = 64 * 1024;
    try {
        bytes.reserve(expected);
        for (;;) {
            if (bytes.size() > expected) {
                bytes.clear();
                return ImageRead::Unsuited;
            }
            const std::size_t done = bytes.size();
            bytes.resize(done + kChunk);
            DWORD got = 0;
            const bool read = ::ReadFile(file.get(), bytes.data() + done, kChunk, &got, nullptr);
            bytes.resize(done + got);
            if (!read) {
                bytes.clear();
                return ImageRead::CannotOpen;
            }
            if (got == 0) {
                break;
            }
        }
    } catch (const std::bad_alloc&) {
        bytes.clear();
        return ImageRead::CannotOpen;
    }
    if (!lengthFits(bytes.size())) {
        bytes.clear();
        return ImageRead::Unsuited;
    }
    return ImageRead::Read;
}

}  // namespace qor
