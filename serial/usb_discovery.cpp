#include "serial/usb_discovery.h"

#include <algorithm>
#include <limits>
#include <span>

#include "serial/usb_registry_paths.h"

namespace qor {

namespace {

// Fixed buffers of MAX_PATH characters for names, instance paths and key
// paths, so the poll's count never allocates; a port name gets 15 characters
// and its null, the longest name an entry takes.
constexpr std::size_t kNameChars = 260;
constexpr std::size_t kInstanceChars = 260;
constexpr std::size_t kKeyPathChars = 260;
constexpr std::size_t kPortNameChars = 16;

using NameBuffer = std::array<char16_t, kNameChars>;
using InstanceBuffer = std::array<char16_t, kInstanceChars>;

// A value's data read as text: up to its first null, or to the end of what
// was returned when the writer left the null out. An odd last byte is half a
// character and is dropped.
std::u16string_view textOf(std::span<const char16_t> buffer, std::size_t units) {
    std::u16string_view text(buffer.data(), std::min(units, buffer.size()));
    return text.substr(0, text.find(u'\0'));
}

std::u16string_view dataText(std::span<const char16_t> buffer, const RegistryValueInfo& info) {
    return textOf(buffer, info.dataBytes / sizeof(char16_t));
}

bool contains(std::u16string_view text, std::u16string_view part) {
    return text.find(part) != std::u16string_view::npos;
}

enum class Step { Value, End, Failed };

// Reads a key's values by index from 0. A value too large for the buffers is
// passed over. Any other error ends the walk as failed: a key deleted while it
// is read (a device unplugged) fails for every further index, and a list read
// only in part would be taken for the whole.
class ValueWalk {
  public:
    ValueWalk(RegistryKey& key, std::span<char16_t> name) : m_key(key), m_name(name) {}

    Step next(std::span<char16_t> data, RegistryValueInfo& info) {
        while (m_index != std::numeric_limits<uint32_t>::max()) {
            switch (m_key.enumValue(m_index++, m_name, data, info)) {
                case RegistryResult::Ok:
                    return Step::Value;
                case RegistryResult::MoreData:
                    break;
                case RegistryResult::NoMoreItems:
                    return Step::End;
                case RegistryResult::OtherError:
                    return Step::Failed;
            }
        }
        return Step::Failed;
    }

    std::u16string_view name(const RegistryValueInfo& info) const {
        return textOf(m_name, info.nameLength);
    }

  private:
    RegistryKey& m_key;
    std::span<char16_t> m_name;
    uint32_t m_index = 0;
};

struct Gathered {
    std::array<InstanceBuffer, kPortNameTableSize> slots{};
    std::array<uint32_t, kPortNameTableSize> slotBytes{};
    std::size_t count = 0;
    bool failed = false;

    std::u16string_view instance(std::size_t i) const {
        return textOf(slots[i], slotBytes[i] / sizeof(char16_t));
    }
};

// Reads the imagers' instance paths into the slots, a non-matching value
// being read over by the next one. Stops at the 8th match without reading on.
void gatherInstances(RegistryReader& registry, Gathered& gathered) {
    RegistryKey list = registry.openKey(kUsbSerialListPath.data());
    if (!list) {
        gathered.failed = true;
        return;
    }
    NameBuffer name{};
    ValueWalk walk(list, name);
    RegistryValueInfo info;
    while (gathered.count < kPortNameTableSize) {
        auto& slot = gathered.slots[gathered.count];
        const Step step = walk.next(slot, info);
        if (step == Step::Failed) {
            gathered.failed = true;
            return;
        }
        if (step == Step::End) {
            return;
        }
        if (contains(dataText(slot, info), UsbHardwareId)) {
            gathered.slotBytes[gathered.count] = info.dataBytes;
            ++gathered.count;
        }
    }
}

// "SYSTEM\CurrentControlSet\Enum\<instance>\Device Parameters" with its null;
// false when it does not fit (an instance path of more than 211 characters).
bool parametersPath(std::u16string_view instance, std::array<char16_t, kKeyPathChars>& path) {
    const std::size_t length =
        kDeviceEnumPrefix.size() + instance.size() + kDeviceParametersSuffix.size();
    if (length >= path.size()) {
        return false;
    }
    auto out = std::copy(kDeviceEnumPrefix.begin(), kDeviceEnumPrefix.end(), path.begin());
    out = std::copy(instance.begin(), instance.end(), out);
    out = std::copy(kDeviceParametersSuffix.begin(), kDeviceParametersSuffix.end(), out);
    *out = u'\0';
    return true;
}

enum class PortNameRead { Found, Absent, Failed };

// Walks the parameters key up to the first value whose name contains
// "PortName"; its data is left in `portName`.
PortNameRead readPortName(RegistryKey& parameters, std::array<char16_t, kPortNameChars>& portName,
                          std::u16string_view& text) {
    NameBuffer name{};
    ValueWalk walk(parameters, name);
    RegistryValueInfo info;
    for (;;) {
        switch (walk.next(portName, info)) {
            case Step::Value:
                if (contains(walk.name(info), kPortNameValue)) {
                    text = dataText(portName, info);
                    return PortNameRead::Found;
                }
                break;
            case Step::End:
                return PortNameRead::Absent;
            case Step::Failed:
                return PortNameRead::Failed;
        }
    }
}

// The table holds UTF-8; a name with an unpaired surrogate names no port.
bool toUtf8(std::u16string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return true;
}

// The port named in an imager's parameters key; empty when the key or the
// value is missing or the name is not a port's.
std::string portOf(RegistryReader& registry, std::u16string_view instance) {
    std::array<char16_t, kKeyPathChars> path{};
    if (!parametersPath(instance, path)) {
        return {};
    }
    RegistryKey parameters = registry.openKey(path.data());
    if (!parameters) {
        return {};
    }
    std::array<char16_t, kPortNameChars> portName{};
    std::u16string_view text;
    std::string name;
    if (readPortName(parameters, portName, text) != PortNameRead::Found ||
        text.size() >= kPortNameChars || !registry.isPortName(text) || !toUtf8(text, name)) {
        return {};
    }
    return name;
}

// The instance path's last part, a lone surrogate made U+FFFD so that every
// instance has a name.
std::string instanceOf(std::u16string_view path) {
    const std::size_t slash = path.find_last_of(u'\\');
    std::u16string last(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
    for (std::size_t i = 0; i < last.size(); ++i) {
        const bool high = last[i] >= 0xD800 && last[i] <= 0xDBFF;
        if (high && i + 1 < last.size() && last[i + 1] >= 0xDC00 && last[i + 1] <= 0xDFFF) {
            ++i;
        } else if (last[i] >= 0xD800 && last[i] <= 0xDFFF) {
            last[i] = 0xFFFD;
        }
    }
    std::string text;
    toUtf8(last, text);
    return text;
}

// CollectUsbPorts, and with `instances` each imager's instance too.
uint8_t collectPorts(RegistryReader& registry, PortNameTable& table, UsbInstanceTable* instances) {
    Gathered gathered;
    gatherInstances(registry, gathered);
    if (gathered.failed || gathered.count == 0) {
        return 0;
    }
    for (std::size_t i = 0; i < gathered.count; ++i) {
        if (instances != nullptr) {
            (*instances)[i] = instanceOf(gathered.instance(i));
        }
        std::array<char16_t, kKeyPathChars> path{};
        if (!parametersPath(gathered.instance(i), path)) {
            continue;  // no key can have this path; the entry keeps its name
        }
        RegistryKey parameters = registry.openKey(path.data());
        if (!parameters) {
            return 0;
        }
        std::array<char16_t, kPortNameChars> portName{};
        std::u16string_view text;
        const PortNameRead read = readPortName(parameters, portName, text);
        parameters.close();
        if (read == PortNameRead::Failed) {
            return 0;
        }
        // A name that fills the whole buffer has no room for its null and
        // does not fit an entry.
        std::string name;
        if (read == PortNameRead::Found && text.size() < kPortNameChars &&
            registry.isPortName(text) && toUtf8(text, name)) {
            table[i] = std::move(name);
        }
    }
    return static_cast<uint8_t>(gathered.count);
}

}  // namespace

uint8_t CountUsbDevices(RegistryReader& registry) {
    RegistryKey list = registry.openKey(kUsbSerialListPath.data());
    if (!list) {
        return 0;
    }
    NameBuffer name{};
    InstanceBuffer data{};
    ValueWalk walk(list, name);
    RegistryValueInfo info;
    uint8_t count = 0;
    Step step;
    while ((step = walk.next(data, info)) == Step::Value) {
        // Saturate: 256 imagers wrapping to 0 would read as none attached.
        if (contains(dataText(data, info), UsbHardwareId) &&
            count < std::numeric_limits<uint8_t>::max()) {
            ++count;
        }
    }
    return step == Step::End ? count : 0;
}

uint8_t CollectUsbPorts(RegistryReader& registry, PortNameTable& table) {
    return collectPorts(registry, table, nullptr);
}

std::optional<std::vector<UsbImager>> ListUsbImagers(RegistryReader& registry) {
    std::vector<std::u16string> instances;
    {
        RegistryKey list = registry.openKey(kUsbSerialListPath.data());
        if (!list) {
            return std::vector<UsbImager>{};
        }
        NameBuffer name{};
        InstanceBuffer data{};
        ValueWalk walk(list, name);
        RegistryValueInfo info;
        Step step;
        while ((step = walk.next(data, info)) == Step::Value) {
            const std::u16string_view path = dataText(data, info);
            if (contains(path, UsbHardwareId)) {
                instances.emplace_back(path);
            }
        }
        if (step == Step::Failed) {
            return std::nullopt;
        }
    }
    std::vector<UsbImager> imagers;
    for (const std::u16string& path : instances) {
        imagers.push_back({instanceOf(path), portOf(registry, path)});
    }
    return imagers;
}

uint8_t CollectUsbPortsForRun(RegistryReader& registry, PortNameTable& table) {
    UsbInstanceTable instances;
    return CollectUsbPortsForRun(registry, table, instances);
}

uint8_t CollectUsbPortsForRun(RegistryReader& registry, PortNameTable& table,
                              UsbInstanceTable& instances) {
    table = PortNameTable{};
    instances = UsbInstanceTable{};
    const uint8_t collected = collectPorts(registry, table, &instances);
    // A written entry is never empty: no empty text is a port name.
    const bool everyOneNamed = std::all_of(table.begin(), table.begin() + collected,
                                           [](const std::string& name) { return !name.empty(); });
    return everyOneNamed ? collected : 0;
}

}  // namespace qor
