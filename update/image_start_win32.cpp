#include <windows.h>

#include "update/image_start.h"

namespace qor {

namespace {

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : m_handle(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (valid()) {
            ::CloseHandle(m_handle);
        }
    }
    bool valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return m_handle; }

  private:
    HANDLE m_handle;
};

}  // namespace

ImageStart readImageStart(const std::filesystem::path& path, std::span<uint8_t> bytes) {
    if (path.empty()) {
        return ImageStart::CannotOpen;
    }
    // A folder is not opened without FILE_FLAG_BACKUP_SEMANTICS, so it fails
    // here, silently, as it always has. Every other reader and writer is let
    // in, as the workers' handles let them in.
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return ImageStart::CannotOpen;
    }
    // A pipe, a console or a serial port would block a read or hand over
    // bytes that are not a file's.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        return ImageStart::Unsuited;
    }
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.get(), &length) || length.QuadPart < 0 ||
        static_cast<uint64_t>(length.QuadPart) > kLargestImageLength) {
        return ImageStart::Unsuited;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                        &got, nullptr)) {
            return ImageStart::CannotOpen;
        }
        if (got == 0) {
            break;  // a short file
        }
        done += got;
    }
    return ImageStart::Read;
}

}  // namespace qor
