#include <windows.h>

#include <cstdint>
#include <vector>

#include "tools/testkit/open_handles.h"

namespace qor::testing {

namespace {

// The system's table of every process's handles
// (SystemExtendedHandleInformation): wine fills it as Windows does, where
// /proc/self/fd would list wine's own descriptors.
constexpr ULONG kExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);

struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

using QuerySystemInformation = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);

std::vector<HANDLE> ownHandles() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto query = ntdll == nullptr
                           ? nullptr
                           : reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
                                 GetProcAddress(ntdll, "NtQuerySystemInformation")));
    std::vector<HANDLE> handles;
    if (query == nullptr) {
        return handles;
    }
    std::vector<char> buffer(1 << 16);
    LONG status = 0;
    ULONG needed = 0;
    while ((status = query(kExtendedHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), &needed)) == kInfoLengthMismatch &&
           buffer.size() < (size_t{1} << 28)) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) {
        return handles;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const ULONG_PTR self = GetCurrentProcessId();
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == self) {
            handles.push_back(reinterpret_cast<HANDLE>(table->entries[i].handle));
        }
    }
    return handles;
}

bool sameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

int openHandlesOn(const std::filesystem::path& file) {
    // The file's identity, from a handle of our own closed before the walk.
    const HANDLE probe = CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION target{};
    const bool known = GetFileInformationByHandle(probe, &target) != FALSE;
    CloseHandle(probe);
    if (!known) {
        return 0;
    }
    int count = 0;
    for (const HANDLE handle : ownHandles()) {
        // Only disk files are asked further: a query on a pipe may block.
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
            sameFile(info, target)) {
            ++count;
        }
    }
    return count;
}

}  // namespace qor::testing
