#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/append_file.h"

namespace qor {

namespace {

class Win32AppendFile final : public AppendFile {
  public:
    Win32AppendFile(HANDLE file, bool empty) : m_file(file), m_empty(empty) {}
    ~Win32AppendFile() override { ::CloseHandle(m_file); }
    Win32AppendFile(const Win32AppendFile&) = delete;
    Win32AppendFile& operator=(const Win32AppendFile&) = delete;

    bool startedEmpty() const override { return m_empty; }

    bool appendDurably(std::string_view text) override {
        while (!text.empty()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
            if (!::WriteFile(m_file, text.data(), chunk, &written, nullptr)) {
                m_error = static_cast<long>(::GetLastError());
                return false;
            }
            text.remove_prefix(written);
        }
        if (!::FlushFileBuffers(m_file)) {
            m_error = static_cast<long>(::GetLastError());
            return false;
        }
        return true;
    }

    long lastOsError() const override { return m_error; }

  private:
    HANDLE m_file;
    const bool m_empty;
    long m_error = 0;
};

}  // namespace

AppendFileOpen openAppendFile(const std::filesystem::path& path) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the
    // end, also when another program appends to the same file.
    const HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {nullptr, static_cast<long>(::GetLastError())};
    }
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) {
        const long error = static_cast<long>(::GetLastError());
        ::CloseHandle(file);
        return {nullptr, error};
    }
    return {std::make_unique<Win32AppendFile>(file, size.QuadPart == 0), 0};
}

}  // namespace qor
