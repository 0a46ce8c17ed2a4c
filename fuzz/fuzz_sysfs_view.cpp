// The sysfs view over arbitrary trees. The input is a script, one command a
// line, that builds a tree in a fresh folder:
//   d PATH           a folder (with its parents)
//   f PATH TEXT      a file holding TEXT and a newline
//   h PATH SIZE      a file of SIZE KiB (sparse), larger than any attribute
//   l PATH TARGET    a symbolic link (loops and dangling links welcome)
// PATH is relative to the root and stays inside it; names may hold any byte
// but '/', NUL and the line end. The view must count, list and name only what
// the tree holds, answer the same way twice, and close what it opens.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "serial/registry_sysfs.h"
#include "serial/usb_discovery.h"
#include "serial/usb_registry_paths.h"
#include "tests/support/temp_dir.h"
#include "tools/testkit/open_handles.h"

namespace {

namespace fs = std::filesystem;
using qor::fuzz::require;

// PATH inside the root, or empty when it would leave it.
fs::path inside(std::string_view text) {
    const fs::path path = fs::path(text).relative_path().lexically_normal();
    if (path.empty() || *path.begin() == ".." || path == ".") {
        return {};
    }
    return path;
}

void build(const fs::path& root, std::string_view script) {
    std::error_code ignored;
    size_t commands = 0;
    while (!script.empty() && commands++ < 64) {
        const size_t end = script.find('\n');
        std::string_view line = script.substr(0, end);
        script = end == std::string_view::npos ? std::string_view() : script.substr(end + 1);
        if (line.size() < 3 || line[1] != ' ' || line.find('\0') != std::string_view::npos) {
            continue;
        }
        const char command = line[0];
        line.remove_prefix(2);
        const size_t space = line.find(' ');
        const fs::path path = inside(line.substr(0, space));
        const std::string_view rest =
            space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
        if (path.empty()) {
            continue;
        }
        const fs::path full = root / path;
        if (command == 'd') {
            fs::create_directories(full, ignored);
            continue;
        }
        fs::create_directories(full.parent_path(), ignored);
        if (command == 'f' || command == 'h') {
            const int fd = ::open(full.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0) {
                continue;
            }
            if (command == 'f') {
                const std::string text = std::string(rest) + "\n";
                [[maybe_unused]] auto written = ::write(fd, text.data(), text.size());
            } else {
                const off_t kib = std::atoi(std::string(rest.substr(0, 5)).c_str());
                [[maybe_unused]] auto cut = ::ftruncate(fd, (kib > 0 ? kib : 1) * 1024);
            }
            ::close(fd);
        } else if (command == 'l' && !rest.empty()) {
            // Relative targets resolved lexically must stay inside too;
            // links through links may still lead out, to read-only places.
            if (rest.front() == '/' || inside((path.parent_path() / rest).string()).empty()) {
                continue;
            }
            fs::create_symlink(std::string(rest), full, ignored);
        }
    }
}

struct View {
    uint8_t count = 0;
    uint8_t collected = 0;
    qor::PortNameTable table;
    std::vector<std::u16string> instances;
};

constexpr const char* kUnset = "(unset)";

View look(qor::RegistryReader& registry) {
    View view;
    view.table.fill(kUnset);
    view.count = qor::CountUsbDevices(registry);
    view.collected = qor::CollectUsbPorts(registry, view.table);
    qor::RegistryKey list = registry.openKey(qor::kUsbSerialListPath.data());
    if (list) {
        std::array<char16_t, 300> name{};
        std::array<char16_t, 600> data{};
        qor::RegistryValueInfo info;
        for (uint32_t i = 0; list.enumValue(i, name, data, info) == qor::RegistryResult::Ok; ++i) {
            require(info.dataBytes >= 2 && info.dataBytes % 2 == 0 &&
                        data[info.dataBytes / 2 - 1] == u'\0',
                    "every instance path is a string with its null");
            view.instances.emplace_back(data.data(), info.dataBytes / 2 - 1);
        }
    }
    return view;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qor::testing::TempDir dir;
    build(dir.path(), std::string_view(reinterpret_cast<const char*>(data), size));

    // The kernel gives every tty one entry and one device; a made-up tree can
    // lead two entries to one device, which then has one path for both.
    std::set<std::string> ttyEntries;
    std::set<fs::path> devices;
    bool devicesShared = false;
    std::error_code ignored;
    for (fs::directory_iterator it(dir / "class/tty", ignored), end; it != end;
         it.increment(ignored)) {
        ttyEntries.insert(it->path().filename().string());
        const fs::path device = fs::canonical(it->path() / "device", ignored);
        if (!device.empty() && !devices.insert(device).second) {
            devicesShared = true;
        }
    }

    const size_t descriptors = qor::testing::openDescriptorCount();
    auto registry = qor::openSysfsRegistry(dir.path());
    const View first = look(*registry);
    const View again = look(*registry);  // answered from what the first look kept
    auto fresh = qor::openSysfsRegistry(dir.path());
    const View anew = look(*fresh);
    registry.reset();
    fresh.reset();
    require(qor::testing::openDescriptorCount() == descriptors, "every file and folder is closed");

    for (const View* view : {&again, &anew}) {
        require(view->count == first.count && view->collected == first.collected &&
                    view->table == first.table && view->instances == first.instances,
                "the same tree gives the same view");
    }
    require(first.instances.size() <= ttyEntries.size(), "at most one instance per tty");
    size_t imagers = 0;
    for (size_t i = 0; i < first.instances.size(); ++i) {
        const std::u16string& instance = first.instances[i];
        require(instance.starts_with(u"USB\\VID_") && instance.find(u"&PID_") == 12,
                "an instance path names the vendor and the product");
        for (size_t j = 0; j < i && !devicesShared; ++j) {
            require(instance != first.instances[j], "no two instances share a path");
        }
        imagers += instance.find(qor::UsbHardwareId) != std::u16string::npos;
    }
    require(first.count == imagers, "the count is the number of imagers listed");
    require(first.collected == std::min<size_t>(imagers, qor::kPortNameTableSize),
            "every imager listed is gone through");
    std::set<std::string> names;
    for (size_t i = 0; i < qor::kPortNameTableSize; ++i) {
        const std::string& name = first.table[i];
        if (name == kUnset) {
            continue;
        }
        require(i < first.collected, "no entry past the imagers");
        require(ttyEntries.count(name) == 1 && name.starts_with("tty") && name.size() <= 15,
                "an entry names a tty of the tree");
        require(names.insert(name).second || devicesShared, "no two imagers share a port");
    }
    return 0;
}
