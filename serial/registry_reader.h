#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>

namespace qor {

// What one value enumeration reports. The shapes follow RegEnumValueW, so
// the Win32 backend is a thin wrapper and the other backends behave alike.
enum class RegistryResult {
    Ok,
    NoMoreItems,  // past the last value (ERROR_NO_MORE_ITEMS)
    MoreData,     // the name or the data is larger than the buffer given (ERROR_MORE_DATA)
    OtherError,   // anything else, e.g. the key was deleted while open (ERROR_KEY_DELETED)
};

// Registry value types, numbered as the Windows registry numbers them.
namespace registry_type {
inline constexpr uint32_t kNone = 0;
inline constexpr uint32_t kString = 1;  // REG_SZ
inline constexpr uint32_t kBinary = 3;  // REG_BINARY
inline constexpr uint32_t kDword = 4;   // REG_DWORD
}  // namespace registry_type

// Lengths of the value an enumeration read.
struct RegistryValueInfo {
    uint32_t nameLength = 0;  // characters written to the name buffer, without its null
    uint32_t type = registry_type::kNone;
    uint32_t dataBytes = 0;  // bytes written to the data buffer (the size needed on MoreData)
};

class RegistryReader;

// An open key; closed exactly once when the object goes. Empty when the open
// failed.
class RegistryKey {
  public:
    RegistryKey() = default;
    RegistryKey(RegistryKey&& other) noexcept
        : m_reader(std::exchange(other.m_reader, nullptr)), m_handle(other.m_handle) {}
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() { close(); }

    bool valid() const { return m_reader != nullptr; }
    explicit operator bool() const { return valid(); }

    // Reads the value at `index`: its name into `name` (capacity name.size()
    // characters, the terminating null included) and its data into `data`
    // (capacity data.size_bytes() bytes). The buffers' full sizes are always
    // what the OS is told, so no backend can write past them.
    RegistryResult enumValue(uint32_t index, std::span<char16_t> name, std::span<char16_t> data,
                             RegistryValueInfo& info);

    void close();

  private:
    friend class RegistryReader;
    RegistryKey(RegistryReader* reader, uintptr_t handle) : m_reader(reader), m_handle(handle) {}

    RegistryReader* m_reader = nullptr;
    uintptr_t m_handle = 0;
};

// Read-only access to the two registry places USB discovery needs: a key
// below HKEY_LOCAL_MACHINE opened by path, its values read by index.
class RegistryReader {
  public:
    virtual ~RegistryReader() = default;

    // Opens `path` (below HKEY_LOCAL_MACHINE, null-terminated, '\' between
    // levels) for reading. Empty key on failure.
    RegistryKey openKey(const char16_t* path);

    // True when `text` (a value's data up to its first null) has the form of
    // a serial port name on this platform, the kind OpenComPort takes.
    virtual bool isPortName(std::u16string_view text) const = 0;

    // OS error of the last failed call, for diagnostics only.
    long lastOsError() const { return m_lastOsError; }

  protected:
    virtual bool openHandle(const char16_t* path, uintptr_t& handle) = 0;
    virtual RegistryResult enumHandle(uintptr_t handle, uint32_t index, std::span<char16_t> name,
                                      std::span<char16_t> data, RegistryValueInfo& info) = 0;
    virtual void closeHandle(uintptr_t handle) = 0;

    void setLastOsError(long error) { m_lastOsError = error; }

  private:
    friend class RegistryKey;
    long m_lastOsError = 0;
};

// For backends that hold values in memory: hands out one value with the
// results RegEnumValueW would give for it (MoreData when the name with its
// null or the data does not fit; nothing written then).
RegistryResult copyRegistryValue(std::u16string_view name, uint32_t type,
                                 std::span<const std::byte> data, std::span<char16_t> nameBuffer,
                                 std::span<char16_t> dataBuffer, RegistryValueInfo& info);

// The registry of this machine: the Windows registry, or on Linux a view of
// sysfs laid out the same way.
std::unique_ptr<RegistryReader> openSystemRegistry();

}  // namespace qor
