#include "serial/registry_reader.h"

#include <cstring>

namespace qor {

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        close();
        m_reader = std::exchange(other.m_reader, nullptr);
        m_handle = other.m_handle;
    }
    return *this;
}

RegistryResult RegistryKey::enumValue(uint32_t index, std::span<char16_t> name,
                                      std::span<char16_t> data, RegistryValueInfo& info) {
    if (m_reader == nullptr) {
        return RegistryResult::OtherError;
    }
    return m_reader->enumHandle(m_handle, index, name, data, info);
}

void RegistryKey::close() {
    if (m_reader != nullptr) {
        std::exchange(m_reader, nullptr)->closeHandle(m_handle);
    }
}

RegistryKey RegistryReader::openKey(const char16_t* path) {
    uintptr_t handle = 0;
    if (path == nullptr || !openHandle(path, handle)) {
        return {};
    }
    return RegistryKey(this, handle);
}

RegistryResult copyRegistryValue(std::u16string_view name, uint32_t type,
                                 std::span<const std::byte> data, std::span<char16_t> nameBuffer,
                                 std::span<char16_t> dataBuffer, RegistryValueInfo& info) {
    info.type = type;
    info.dataBytes = static_cast<uint32_t>(data.size());
    if (name.size() >= nameBuffer.size() || data.size() > dataBuffer.size_bytes()) {
        info.nameLength = 0;
        return RegistryResult::MoreData;
    }
    std::memcpy(nameBuffer.data(), name.data(), name.size() * sizeof(char16_t));
    nameBuffer[name.size()] = u'\0';
    info.nameLength = static_cast<uint32_t>(name.size());
    if (!data.empty()) {
        std::memcpy(dataBuffer.data(), data.data(), data.size());
    }
    return RegistryResult::Ok;
}

}  // namespace qor
