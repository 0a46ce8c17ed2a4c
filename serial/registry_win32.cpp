#include <windows.h>

#include "serial/registry_reader.h"

namespace qor {

namespace {

// wchar_t is UTF-16 on Windows, so the char16_t buffers are handed over as
// they are.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

class Win32Registry final : public RegistryReader {
  public:
    // Windows names serial ports "COM<n>"; the names are matched as the USB
    // serial driver writes them, anywhere in the value.
    bool isPortName(std::u16string_view text) const override {
        return text.find(u"COM") != std::u16string_view::npos;
    }

  protected:
    bool openHandle(const char16_t* path, uintptr_t& handle) override {
        HKEY key = nullptr;
        const LONG result =
            ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<LPCWSTR>(path), 0, KEY_READ, &key);
        if (result != ERROR_SUCCESS) {
            setLastOsError(result);
            return false;
        }
        handle = reinterpret_cast<uintptr_t>(key);
        return true;
    }

    RegistryResult enumHandle(uintptr_t handle, uint32_t index, std::span<char16_t> name,
                              std::span<char16_t> data, RegistryValueInfo& info) override {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD type = REG_NONE;
        DWORD dataBytes = static_cast<DWORD>(data.size_bytes());
        const LONG result = ::RegEnumValueW(
            reinterpret_cast<HKEY>(handle), index, reinterpret_cast<LPWSTR>(name.data()),
            &nameChars, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &dataBytes);
        switch (result) {
            case ERROR_SUCCESS:
                info.nameLength = nameChars;
                info.type = type;
                info.dataBytes = dataBytes;
                return RegistryResult::Ok;
            case ERROR_NO_MORE_ITEMS:
                return RegistryResult::NoMoreItems;
            case ERROR_MORE_DATA:
                return RegistryResult::MoreData;
            default:
                setLastOsError(result);
                return RegistryResult::OtherError;
        }
    }

    void closeHandle(uintptr_t handle) override { ::RegCloseKey(reinterpret_cast<HKEY>(handle)); }
};

}  // namespace

std::unique_ptr<RegistryReader> openSystemRegistry() {
    return std::make_unique<Win32Registry>();
}

}  // namespace qor
