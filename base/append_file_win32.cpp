#include <windows.h>

#include <algorithm>
#include <utility>

#include "base/append_file.h"
#include "base/unique_handle_win32.h"

namespace qor {

namespace {

// Every appender locks this one byte, far beyond any file's end: a lock of
// the file's own bytes would also keep readers out (Windows' locks are
// mandatory), where this one only orders the appenders.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFFu;

class Win32AppendFile final : public AppendFile {
  public:
    explicit Win32AppendFile(UniqueHandle file) : m_file(std::move(file)) {}
    Win32AppendFile(const Win32AppendFile&) = delete;
    Win32AppendFile& operator=(const Win32AppendFile&) = delete;

    bool appendDurably(const std::function<std::string(std::string_view head)>& compose) override {
        Lock lock(*this);
        if (!lock.held) {
            return false;
        }
        std::string head;
        if (!read(head, kHeadBytes)) {
            return false;
        }
        return writeDurably(compose(head));
    }

    bool mendDurably(const std::function<std::string(std::string_view contents)>& mend) override {
        Lock lock(*this);
        if (!lock.held) {
            return false;
        }
        std::string contents;
        if (!read(contents, std::string::npos)) {
            return false;
        }
        return writeDurably(mend(contents));
    }

    long lastOsError() const override { return m_error; }

  private:
    // The lock every appender of the file takes; released on every path.
    struct Lock {
        explicit Lock(Win32AppendFile& file) : file(file) {
            OVERLAPPED where{};
            where.Offset = kLockOffsetLow;
            where.OffsetHigh = kLockOffsetHigh;
            held =
                ::LockFileEx(file.m_file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where) != FALSE;
            if (!held) {
                file.failed();
            }
        }
        ~Lock() {
            if (held) {
                OVERLAPPED where{};
                where.Offset = kLockOffsetLow;
                where.OffsetHigh = kLockOffsetHigh;
                ::UnlockFileEx(file.m_file.get(), 0, 1, 0, &where);
            }
        }
        Win32AppendFile& file;
        bool held = false;
    };

    bool failed() {
        m_error = static_cast<long>(::GetLastError());
        return false;
    }

    // The file from its start, up to `most` bytes.
    bool read(std::string& contents, std::size_t most) {
        char buffer[64 * 1024];
        for (uint64_t at = 0; contents.size() < most;) {
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at);
            where.OffsetHigh = static_cast<DWORD>(at >> 32);
            const auto wanted = static_cast<DWORD>(std::min(sizeof buffer, most - contents.size()));
            DWORD got = 0;
            if (!::ReadFile(m_file.get(), buffer, wanted, &got, &where)) {
                if (::GetLastError() == ERROR_HANDLE_EOF) {
                    break;
                }
                return failed();
            }
            if (got == 0) {
                break;
            }
            contents.append(buffer, got);
            at += got;
        }
        return true;
    }

    bool writeDurably(std::string_view text) {
        if (text.empty()) {
            return true;
        }
        while (!text.empty()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
            if (!::WriteFile(m_file.get(), text.data(), chunk, &written, nullptr)) {
                return failed();
            }
            text.remove_prefix(written);
        }
        return ::FlushFileBuffers(m_file.get()) != FALSE || failed();
    }

    UniqueHandle m_file;
    long m_error = 0;
};

}  // namespace

AppendFileOpen openAppendFile(const std::filesystem::path& path) {
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write lands at the
    // end, also when another program appends to the same file, which the
    // share mode lets in (the lock above orders the appenders). Read too: a
    // mend looks at what the file holds.
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return {nullptr, static_cast<long>(::GetLastError())};
    }
    return {std::make_unique<Win32AppendFile>(std::move(file)), 0};
}

}  // namespace qor
