#include "serial/registry_sysfs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serial/usb_registry_paths.h"

namespace qor {

namespace fs = std::filesystem;

namespace {

// One tty of a CDC ACM interface, as the registry view shows it.
struct AcmTty {
    std::string name;       // "ttyACM0"
    std::string interface;  // the USB interface's sysfs name, "1-1.2:1.0"
    std::u16string instance;
};

// sysfs attributes are at most a page; the kernel ends most with a newline.
std::optional<std::string> readAttribute(const fs::path& dir, const char* attribute) {
    std::ifstream in(dir / attribute, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::u16string widenAscii(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

bool isAsciiName(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return c > ' ' && c < 0x7F && c != '/' && c != '\\';
    });
}

// Windows ignores a serial number with control characters, characters above
// 0x7F or a comma, and names the instance by its place on the bus instead; a
// backslash would split the key path.
bool isUsableSerial(std::string_view serial) {
    return !serial.empty() && std::all_of(serial.begin(), serial.end(), [](char c) {
        return c >= ' ' && c < 0x7F && c != ',' && c != '\\';
    });
}

// idVendor / idProduct: four hex digits, written upper-case as Windows does.
std::optional<std::u16string> usbNumber(const fs::path& usbDevice, const char* attribute) {
    auto text = readAttribute(usbDevice, attribute);
    if (!text || text->size() != 4 || !std::all_of(text->begin(), text->end(), [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0;
        })) {
        return std::nullopt;
    }
    std::transform(text->begin(), text->end(), text->begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    return widenAscii(*text);
}

std::string linkName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// A tty whose device is an interface of a USB device served by cdc_acm. A
// usb-serial adapter's tty sits one level lower (its device is the
// usb-serial port "ttyUSB0", bound to ftdi_sio and the like) and is left out.
std::optional<AcmTty> describeTty(const fs::path& ttyDir) {
    AcmTty tty;
    tty.name = ttyDir.filename().string();
    if (!isAsciiName(tty.name)) {
        return std::nullopt;
    }
    std::error_code error;
    const fs::path interface = fs::canonical(ttyDir / "device", error);
    if (error || linkName(interface / "driver") != "cdc_acm") {
        return std::nullopt;
    }
    const fs::path usbDevice = interface.parent_path();
    const auto vendor = usbNumber(usbDevice, "idVendor");
    const auto product = usbNumber(usbDevice, "idProduct");
    if (!vendor || !product) {
        return std::nullopt;
    }
    const auto serial = readAttribute(usbDevice, "serial");
    const std::string id =
        serial && isUsableSerial(*serial) ? *serial : usbDevice.filename().string();
    tty.interface = interface.filename().string();
    tty.instance = u"USB\\VID_" + *vendor + u"&PID_" + *product + u"\\" + widenAscii(id);
    return tty;
}

// "ttyACM9" before "ttyACM10": by the name without its trailing number, then
// by the number's value.
bool ttyBefore(const AcmTty& a, const AcmTty& b) {
    auto split = [](std::string_view name) {
        std::size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])) != 0) {
            --digits;
        }
        std::string_view number = name.substr(digits);
        while (number.size() > 1 && number.front() == '0') {
            number.remove_prefix(1);
        }
        return std::pair(name.substr(0, digits), number);
    };
    const auto [prefixA, numberA] = split(a.name);
    const auto [prefixB, numberB] = split(b.name);
    if (prefixA != prefixB) {
        return prefixA < prefixB;
    }
    if (numberA.size() != numberB.size()) {
        return numberA.size() < numberB.size();
    }
    if (numberA != numberB) {
        return numberA < numberB;
    }
    return a.name < b.name;
}

// Registry key paths compare without regard to case.
bool sameKeyPath(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

// Every CDC ACM tty in order; nullopt when the tty class cannot be read.
std::optional<std::vector<AcmTty>> scanAcmTtys(const fs::path& root) {
    std::error_code error;
    fs::directory_iterator entry(root / "class" / "tty", error);
    if (error) {
        return std::nullopt;
    }
    std::vector<AcmTty> ttys;
    for (; entry != fs::directory_iterator(); entry.increment(error)) {
        if (auto tty = describeTty(entry->path())) {
            ttys.push_back(std::move(*tty));
        }
        if (error) {
            break;
        }
    }
    std::sort(ttys.begin(), ttys.end(), ttyBefore);
    // Two ttys with one path (a device with two ACM functions, or two devices
    // sold with the same serial number) would both find the first one's port.
    // The interface's name is unique on the bus.
    std::vector<bool> shared(ttys.size(), false);
    for (std::size_t i = 0; i < ttys.size(); ++i) {
        for (std::size_t j = i + 1; j < ttys.size(); ++j) {
            if (sameKeyPath(ttys[i].instance, ttys[j].instance)) {
                shared[i] = shared[j] = true;
            }
        }
    }
    for (std::size_t i = 0; i < ttys.size(); ++i) {
        if (shared[i]) {
            auto& instance = ttys[i].instance;
            instance.erase(instance.rfind(u'\\') + 1);
            instance += widenAscii(ttys[i].interface);
        }
    }
    return ttys;
}

struct Value {
    std::u16string name;
    std::u16string data;  // with its terminating null, as REG_SZ stores it
};
using KeyValues = std::vector<Value>;

class SysfsRegistry final : public RegistryReader {
  public:
    explicit SysfsRegistry(fs::path root) : m_root(std::move(root)) {}

    bool isPortName(std::u16string_view text) const override { return text.starts_with(u"tty"); }

  protected:
    bool openHandle(const char16_t* path, uintptr_t& handle) override {
        auto values = readKey(path);
        if (!values) {
            setLastOsError(ENOENT);
            return false;
        }
        auto free = std::find(m_open.begin(), m_open.end(), std::nullopt);
        if (free == m_open.end()) {
            free = m_open.insert(free, std::nullopt);
        }
        *free = std::move(*values);
        handle = static_cast<uintptr_t>(free - m_open.begin()) + 1;
        return true;
    }

    RegistryResult enumHandle(uintptr_t handle, uint32_t index, std::span<char16_t> name,
                              std::span<char16_t> data, RegistryValueInfo& info) override {
        const KeyValues& values = *m_open[handle - 1];
        if (index >= values.size()) {
            return RegistryResult::NoMoreItems;
        }
        const Value& value = values[index];
        return copyRegistryValue(value.name, registry_type::kString,
                                 std::as_bytes(std::span(value.data)), name, data, info);
    }

    void closeHandle(uintptr_t handle) override { m_open[handle - 1].reset(); }

  private:
    std::optional<KeyValues> readKey(std::u16string_view path) const {
        if (sameKeyPath(path, kUsbSerialListPath)) {
            auto ttys = scanAcmTtys(m_root);
            if (!ttys) {
                return std::nullopt;
            }
            KeyValues values;
            for (std::size_t i = 0; i < ttys->size(); ++i) {
                values.push_back({widenAscii(std::to_string(i)), (*ttys)[i].instance + u'\0'});
            }
            return values;
        }
        const std::size_t affixes = kDeviceEnumPrefix.size() + kDeviceParametersSuffix.size();
        if (path.size() <= affixes ||
            !sameKeyPath(path.substr(0, kDeviceEnumPrefix.size()), kDeviceEnumPrefix) ||
            !sameKeyPath(path.substr(path.size() - kDeviceParametersSuffix.size()),
                         kDeviceParametersSuffix)) {
            return std::nullopt;
        }
        const auto instance = path.substr(kDeviceEnumPrefix.size(), path.size() - affixes);
        auto ttys = scanAcmTtys(m_root);
        if (!ttys) {
            return std::nullopt;
        }
        for (const AcmTty& tty : *ttys) {
            if (sameKeyPath(tty.instance, instance)) {
                return KeyValues{{std::u16string(kPortNameValue), widenAscii(tty.name) + u'\0'}};
            }
        }
        return std::nullopt;
    }

    fs::path m_root;
    std::vector<std::optional<KeyValues>> m_open;  // handle = index + 1
};

}  // namespace

std::unique_ptr<RegistryReader> openSysfsRegistry(fs::path root) {
    return std::make_unique<SysfsRegistry>(std::move(root));
}

// QOR_SYSFS_ROOT points the view at a tree of simulated USB imagers, for
// tests and demos.
std::unique_ptr<RegistryReader> openSystemRegistry() {
    const char* root = std::getenv("QOR_SYSFS_ROOT");
    return openSysfsRegistry(root != nullptr && root[0] != '\0' ? root : "/sys");
}

}  // namespace qor
