#include "serial/registry_sysfs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/unique_fd.h"

#include "serial/serial_port_list.h"
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

// sysfs attributes are at most a page and come whole in one read; the
// kernel ends most with a newline.
std::optional<std::string> readAttribute(const std::string& dir, const char* attribute) {
    const std::string path = dir + "/" + attribute;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return std::nullopt;
    }
    std::array<char, 4096> page;
    ssize_t n;
    while ((n = ::read(fd.get(), page.data(), page.size())) < 0 && errno == EINTR) {
    }
    if (n < 0) {
        return std::nullopt;
    }
    std::string text(page.data(), static_cast<std::size_t>(n));
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// Where the link at `link` leads, as the kernel resolves it: empty when
// `link` is no link or leads nowhere. Worked out on the path alone, a link
// through a folder that is not there ("a/missing/../b") would still seem to
// reach "a/b", and two ttys could seem to share one device. A tty is looked
// at only when its entry appears, so the readlink() per path element that
// realpath() costs is paid once per device, not once per poll.
std::string followLink(const std::string& link) {
    struct stat status {};
    if (::lstat(link.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
        return {};
    }
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(link.c_str(), nullptr),
                                                               &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
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
std::optional<std::u16string> usbNumber(const std::string& usbDevice, const char* attribute) {
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

std::string_view lastElement(std::string_view path) {
    return path.substr(path.find_last_of('/') + 1);
}

// A tty whose device is an interface of a USB device served by cdc_acm. A
// usb-serial adapter's tty sits one level lower (its device is the
// usb-serial port "ttyUSB0", bound to ftdi_sio and the like) and is left out.
// `classEntry` is the tty's entry in class/tty: a link to its folder (or, in
// older layouts, the folder itself).
std::optional<AcmTty> describeTty(const std::string& classEntry, std::string name) {
    AcmTty tty;
    tty.name = std::move(name);
    if (!isAsciiName(tty.name)) {
        return std::nullopt;
    }
    std::string ttyDir = followLink(classEntry);
    if (ttyDir.empty()) {
        ttyDir = classEntry;
    }
    const std::string interface = followLink(ttyDir + "/device");
    if (interface.empty() || lastElement(followLink(interface + "/driver")) != "cdc_acm") {
        return std::nullopt;
    }
    const std::string usbDevice = fs::path(interface).parent_path().string();
    const auto vendor = usbNumber(usbDevice, "idVendor");
    const auto product = usbNumber(usbDevice, "idProduct");
    if (!vendor || !product) {
        return std::nullopt;
    }
    const auto serial = readAttribute(usbDevice, "serial");
    const std::string id =
        serial && isUsableSerial(*serial) ? *serial : std::string(lastElement(usbDevice));
    tty.interface = lastElement(interface);
    tty.instance = u"USB\\VID_" + *vendor + u"&PID_" + *product + u"\\" + widenAscii(id);
    return tty;
}

// "ttyACM9" before "ttyACM10".
bool ttyBefore(const AcmTty& a, const AcmTty& b) {
    return portNameBefore(a.name, b.name);
}

// Registry key paths compare without regard to case.
bool sameKeyPath(std::u16string_view a, std::u16string_view b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// Every tty with a device behind it: a UART, a usb-serial adapter's port, a
// CDC ACM interface, a Bluetooth link. Consoles and pseudo-terminals have
// none. A UART slot the kernel keeps for a chip that is not there has one
// too, but says so in its type (0, no UART). In natural order of names;
// nullopt when the tty class cannot be read.
std::optional<std::vector<std::string>> serialTtys(const fs::path& root) {
    const std::string classDir = (root / "class" / "tty").string();
    std::unique_ptr<DIR, DirCloser> dir(::opendir(classDir.c_str()));
    if (!dir) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || !isAsciiName(name)) {
            continue;
        }
        std::string ttyDir = followLink(classDir + "/" + name);
        if (ttyDir.empty()) {
            ttyDir = classDir + "/" + name;
        }
        if (followLink(ttyDir + "/device").empty() || readAttribute(ttyDir, "type") == "0") {
            continue;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return portNameBefore(a, b); });
    return names;
}

// The tty class as last seen: every entry with what it turned out to be.
// An entry is looked at once, when it appears: the kernel makes a new link
// (with a new inode number) for every tty it creates, and a USB device's
// numbers, serial and driver stay as they are for as long as its tty
// exists. So a poll lists one folder and reads nothing else until a device
// comes or goes, and a listing like the last one gives the last answer
// without sorting or comparing again: a station polls with dozens.
class TtyClass {
  public:
    // Every CDC ACM tty in order; nullopt when the tty class cannot be read.
    std::optional<std::vector<AcmTty>> scan(const fs::path& root) {
        const std::string classDir = (root / "class" / "tty").string();
        std::unique_ptr<DIR, DirCloser> dir(::opendir(classDir.c_str()));
        if (!dir) {
            return std::nullopt;
        }
        std::vector<Listed> listing;
        listing.reserve(m_listing.size());
        while (const dirent* entry = ::readdir(dir.get())) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") {
                listing.push_back({std::string(name), entry->d_ino});
            }
        }
        if (listing == m_listing) {
            return m_ttys;
        }
        std::unordered_map<std::string, Entry> seen;
        std::vector<AcmTty> kept;   // named when they appeared
        std::vector<AcmTty> fresh;  // to be named now
        for (const Listed& listed : listing) {
            auto known = m_entries.find(listed.name);
            const bool carried = known != m_entries.end() && known->second.inode == listed.inode;
            Entry current = carried ? std::move(known->second)
                                    : Entry{listed.inode,
                                            describeTty(classDir + "/" + listed.name, listed.name)};
            if (current.tty) {
                (carried ? kept : fresh).push_back(*current.tty);
            }
            seen.emplace(listed.name, std::move(current));
        }
        nameNewcomers(kept, fresh);
        for (AcmTty& tty : fresh) {
            seen.at(tty.name).tty = tty;
            kept.push_back(std::move(tty));
        }
        std::sort(kept.begin(), kept.end(), ttyBefore);
        m_entries = std::move(seen);
        m_listing = std::move(listing);
        m_ttys = kept;
        return kept;
    }

  private:
    struct Entry {
        ino_t inode = 0;
        std::optional<AcmTty> tty;  // empty: not an ACM tty
    };
    struct Listed {
        std::string name;
        ino_t inode = 0;
        bool operator==(const Listed&) const = default;
    };

    // Two ttys with one path (a device with two ACM functions, or two
    // devices sold with the same serial number) would both find the first
    // one's port. A tty keeps the path it was given when it appeared, so
    // that an imager's twin plugged in later does not make it look like a
    // new one; the newcomer is named by its interface, whose name is unique
    // on the bus, as Windows names the second device of one serial. Ttys
    // that appear together are named in tty order.
    static void nameNewcomers(const std::vector<AcmTty>& kept, std::vector<AcmTty>& fresh) {
        std::vector<std::u16string> taken;
        for (const AcmTty& tty : kept) {
            taken.push_back(tty.instance);
        }
        std::sort(fresh.begin(), fresh.end(), ttyBefore);
        const auto isTaken = [&](const std::u16string& instance) {
            return std::any_of(taken.begin(), taken.end(), [&](const std::u16string& other) {
                return sameKeyPath(instance, other);
            });
        };
        for (AcmTty& tty : fresh) {
            // Only a made-up tree gets past the interface: interfaces of one
            // name under two buses, or a serial that reads like another
            // device's interface. The tty's name is held once by the class
            // folder, and a number after it settles a serial that reads
            // like a tty's name.
            if (isTaken(tty.instance)) {
                replaceId(tty.instance, tty.interface);
            }
            for (int n = 1; isTaken(tty.instance); ++n) {
                replaceId(tty.instance, n == 1 ? tty.name : tty.name + "#" + std::to_string(n));
            }
            taken.push_back(tty.instance);
        }
    }

    // Replaces the instance path's last element, the device's own id.
    static void replaceId(std::u16string& instance, std::string_view id) {
        instance.erase(instance.rfind(u'\\') + 1);
        instance += widenAscii(id);
    }

    std::unordered_map<std::string, Entry> m_entries;
    std::vector<Listed> m_listing;  // in the order the folder gave it
    std::vector<AcmTty> m_ttys;     // what that listing came to
};

struct Value {
    std::u16string name;
    std::u16string data;  // with its terminating null, as REG_SZ stores it
};
using KeyValues = std::vector<Value>;

class SysfsRegistry final : public RegistryReader {
  public:
    explicit SysfsRegistry(fs::path root) : m_root(std::move(root)) {}

    bool isPortName(std::u16string_view text) const override {
        return text.starts_with(u"tty") || text.starts_with(u"rfcomm");
    }

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
    std::optional<KeyValues> readKey(std::u16string_view path) {
        if (sameKeyPath(path, kSerialCommPath)) {
            const auto ttys = serialTtys(m_root);
            if (!ttys) {
                return std::nullopt;
            }
            KeyValues values;
            for (const std::string& name : *ttys) {
                values.push_back({u"\\Device\\" + widenAscii(name), widenAscii(name) + u'\0'});
            }
            return values;
        }
        if (sameKeyPath(path, kUsbSerialListPath)) {
            m_listed = m_ttys.scan(m_root);
            if (!m_listed) {
                return std::nullopt;
            }
            KeyValues values;
            for (std::size_t i = 0; i < m_listed->size(); ++i) {
                values.push_back({widenAscii(std::to_string(i)), (*m_listed)[i].instance + u'\0'});
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
        // A walk reads the list and then each instance it named: their ports
        // come from the same listing, so a walk of dozens of imagers lists the
        // folder once, and an imager unplugged during the walk shows as the
        // port it had (its worker finds the line gone), as it would had it
        // gone a moment after the walk.
        if (!m_listed) {
            m_listed = m_ttys.scan(m_root);
        }
        if (!m_listed) {
            return std::nullopt;
        }
        for (const AcmTty& tty : *m_listed) {
            if (sameKeyPath(tty.instance, instance)) {
                return KeyValues{{std::u16string(kPortNameValue), widenAscii(tty.name) + u'\0'}};
            }
        }
        return std::nullopt;
    }

    fs::path m_root;
    TtyClass m_ttys;
    std::optional<std::vector<AcmTty>> m_listed;   // what the last list read found
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
