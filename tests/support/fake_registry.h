#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "serial/registry_reader.h"

namespace qor::testing {

// A registry held in memory, answering enumerations as RegEnumValueW does:
// values of any type, names and data of any size (MoreData when they do not
// fit), errors at chosen indexes, keys removed while open. Key paths compare
// without regard to case. Opening, reading and closing allocate nothing, so
// it can stand in where allocation is watched.
class FakeRegistry final : public RegistryReader {
  public:
    using Bytes = std::vector<uint8_t>;

    // A string as REG_SZ stores it, with its terminating null; `raw` leaves
    // the null out, as careless writers do.
    static Bytes stringData(std::u16string_view text);
    static Bytes rawData(std::u16string_view text);

    void addKey(std::u16string_view path);
    // Adds a value at the end of the key's list, creating the key if needed.
    void addValue(std::u16string_view path, std::u16string_view name, uint32_t type, Bytes data);
    void addString(std::u16string_view path, std::u16string_view name, std::u16string_view text) {
        addValue(path, name, registry_type::kString, stringData(text));
    }
    // From now on the key cannot be opened and open handles to it fail every
    // read with OtherError, as a deleted key does.
    void removeKey(std::u16string_view path);
    // The read of `index` in `path` reports `result` instead of the value.
    void failRead(std::u16string_view path, uint32_t index, RegistryResult result);
    // Called before every read, with the key's path and the index asked for;
    // a test can change the registry from here.
    void onRead(std::function<void(std::u16string_view path, uint32_t index)> hook) {
        m_onRead = std::move(hook);
    }
    // Windows' form ("contains COM") unless set.
    void setPortNameForm(std::function<bool(std::u16string_view)> form) {
        m_portNameForm = std::move(form);
    }

    bool isPortName(std::u16string_view text) const override { return m_portNameForm(text); }

    int openKeyCount() const;                         // keys open right now
    int timesOpened(std::u16string_view path) const;  // successful opens
    // Highest index read from the key, -1 when none was.
    int64_t highestIndexRead(std::u16string_view path) const;

  protected:
    bool openHandle(const char16_t* path, uintptr_t& handle) override;
    RegistryResult enumHandle(uintptr_t handle, uint32_t index, std::span<char16_t> name,
                              std::span<char16_t> data, RegistryValueInfo& info) override;
    void closeHandle(uintptr_t handle) override;

  private:
    struct Value {
        std::u16string name;
        uint32_t type;
        Bytes data;
    };
    struct Key {
        bool present = true;
        uint32_t generation = 0;
        std::vector<Value> values;
        std::map<uint32_t, RegistryResult> failures;
        int opened = 0;
        int64_t highestRead = -1;
    };
    struct OpenKey {
        const std::u16string* path = nullptr;
        Key* key = nullptr;
        uint32_t generation = 0;
    };
    struct PathLess {
        using is_transparent = void;
        bool operator()(std::u16string_view a, std::u16string_view b) const;
    };

    Key* find(std::u16string_view path);
    const Key* find(std::u16string_view path) const;

    std::map<std::u16string, Key, PathLess> m_keys;  // nodes stay put: open keys point in
    std::array<OpenKey, 32> m_open{};
    std::function<void(std::u16string_view, uint32_t)> m_onRead;
    std::function<bool(std::u16string_view)> m_portNameForm = [](std::u16string_view text) {
        return text.find(u"COM") != std::u16string_view::npos;
    };
};

}  // namespace qor::testing
