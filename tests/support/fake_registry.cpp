#include "tests/support/fake_registry.h"

#include <algorithm>
#include <cstring>

namespace qor::testing {

namespace {

char16_t lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

}  // namespace

bool FakeRegistry::PathLess::operator()(std::u16string_view a, std::u16string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char16_t x, char16_t y) { return lower(x) < lower(y); });
}

FakeRegistry::Bytes FakeRegistry::rawData(std::u16string_view text) {
    Bytes bytes(text.size() * sizeof(char16_t));
    // An empty vector's data() may be null, which memcpy must not be given.
    if (!bytes.empty()) {
        std::memcpy(bytes.data(), text.data(), bytes.size());
    }
    return bytes;
}

FakeRegistry::Bytes FakeRegistry::stringData(std::u16string_view text) {
    Bytes bytes = rawData(text);
    bytes.insert(bytes.end(), sizeof(char16_t), 0);
    return bytes;
}

FakeRegistry::Key* FakeRegistry::find(std::u16string_view path) {
    auto it = m_keys.find(path);
    return it == m_keys.end() ? nullptr : &it->second;
}

const FakeRegistry::Key* FakeRegistry::find(std::u16string_view path) const {
    auto it = m_keys.find(path);
    return it == m_keys.end() ? nullptr : &it->second;
}

void FakeRegistry::addKey(std::u16string_view path) {
    Key* key = find(path);
    if (key == nullptr) {
        m_keys.emplace(std::u16string(path), Key{});
    } else if (!key->present) {
        // A key made again under the same path is a new key: handles to the
        // removed one stay dead.
        const uint32_t generation = key->generation + 1;
        *key = Key{};
        key->generation = generation;
    }
}

void FakeRegistry::addValue(std::u16string_view path, std::u16string_view name, uint32_t type,
                            Bytes data) {
    addKey(path);
    find(path)->values.push_back({std::u16string(name), type, std::move(data)});
}

void FakeRegistry::removeKey(std::u16string_view path) {
    if (Key* key = find(path)) {
        key->present = false;
        key->values.clear();
    }
}

void FakeRegistry::failRead(std::u16string_view path, uint32_t index, RegistryResult result) {
    addKey(path);
    find(path)->failures[index] = result;
}

int FakeRegistry::openKeyCount() const {
    return static_cast<int>(std::count_if(m_open.begin(), m_open.end(),
                                          [](const OpenKey& open) { return open.key != nullptr; }));
}

int FakeRegistry::timesOpened(std::u16string_view path) const {
    const Key* key = find(path);
    return key == nullptr ? 0 : key->opened;
}

int64_t FakeRegistry::highestIndexRead(std::u16string_view path) const {
    const Key* key = find(path);
    return key == nullptr ? -1 : key->highestRead;
}

bool FakeRegistry::openHandle(const char16_t* path, uintptr_t& handle) {
    auto it = m_keys.find(std::u16string_view(path));
    auto free = std::find_if(m_open.begin(), m_open.end(),
                             [](const OpenKey& open) { return open.key == nullptr; });
    if (it == m_keys.end() || !it->second.present || free == m_open.end()) {
        setLastOsError(2);  // ERROR_FILE_NOT_FOUND
        return false;
    }
    Key& key = it->second;
    ++key.opened;
    *free = OpenKey{&it->first, &key, key.generation};
    handle = static_cast<uintptr_t>(free - m_open.begin()) + 1;
    return true;
}

RegistryResult FakeRegistry::enumHandle(uintptr_t handle, uint32_t index, std::span<char16_t> name,
                                        std::span<char16_t> data, RegistryValueInfo& info) {
    const OpenKey& open = m_open[handle - 1];
    if (m_onRead) {
        m_onRead(*open.path, index);
    }
    Key& key = *open.key;
    if (!key.present || key.generation != open.generation) {
        setLastOsError(1018);  // ERROR_KEY_DELETED
        return RegistryResult::OtherError;
    }
    key.highestRead = std::max<int64_t>(key.highestRead, index);
    if (auto failure = key.failures.find(index); failure != key.failures.end()) {
        return failure->second;
    }
    if (index >= key.values.size()) {
        return RegistryResult::NoMoreItems;
    }
    const Value& value = key.values[index];
    return copyRegistryValue(value.name, value.type, std::as_bytes(std::span(value.data)), name,
                             data, info);
}

void FakeRegistry::closeHandle(uintptr_t handle) {
    m_open[handle - 1] = OpenKey{};
}

}  // namespace qor::testing
