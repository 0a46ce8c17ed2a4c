#include "serial/registry_sysfs.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "serial/serial_port_list.h"
#include "serial/usb_discovery.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace qor {
namespace {

namespace fs = std::filesystem;
using testing::FakeSysfs;

constexpr char16_t kList[] = u"SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";

std::string narrow(std::u16string_view text) {
    return std::string(text.begin(), text.end());
}

std::u16string parametersPath(std::string_view instance) {
    return u"SYSTEM\\CurrentControlSet\\Enum\\" + std::u16string(instance.begin(), instance.end()) +
           u"\\Device Parameters";
}

using Values = std::vector<std::pair<std::string, std::string>>;

// Every value of a key as name and text (data up to its null).
std::optional<Values> readValues(RegistryReader& registry, const char16_t* path) {
    RegistryKey key = registry.openKey(path);
    if (!key) {
        return std::nullopt;
    }
    Values values;
    std::array<char16_t, 1024> name{};
    std::array<char16_t, 1024> data{};
    RegistryValueInfo info;
    for (uint32_t i = 0; key.enumValue(i, name, data, info) == RegistryResult::Ok; ++i) {
        EXPECT_EQ(info.type, registry_type::kString);
        std::u16string_view text(data.data(), info.dataBytes / 2);
        EXPECT_TRUE(text.ends_with(u'\0'));
        values.emplace_back(narrow({name.data(), info.nameLength}),
                            narrow(text.substr(0, text.find(u'\0'))));
    }
    return values;
}

std::optional<std::string> portNameOf(RegistryReader& registry, std::string_view instance) {
    auto values = readValues(registry, parametersPath(instance).c_str());
    if (!values) {
        return std::nullopt;
    }
    EXPECT_EQ(values->size(), 1u);
    EXPECT_EQ(values->at(0).first, "PortName");
    return values->at(0).second;
}

TEST(SysfsRegistry, ListsEveryCdcAcmTtyAndNothingElse) {
    FakeSysfs sysfs;
    sysfs.addAcmTty(sysfs.addUsbDevice("1-1", "3c7b", "0e52", "A1b2"), "ttyACM0");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-4", "1234", "abcd", "M1"), "ttyACM1");
    sysfs.addUsbSerialTty(sysfs.addUsbDevice("1-2", "0403", "6001", "FT1"), "ttyUSB0", "ftdi_sio");
    sysfs.addUsbSerialTty(sysfs.addUsbDevice("1-5", "067b", "2303", std::nullopt), "ttyUSB1",
                          "pl2303");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-3.2", "3C7B", "0E52", std::nullopt), "ttyACM2");
    sysfs.addOtherTty("tty0", false);
    sysfs.addOtherTty("ttyS0", true);

    auto registry = openSysfsRegistry(sysfs.root());
    EXPECT_EQ(readValues(*registry, kList), (Values{
                                                {"0", "USB\\VID_3C7B&PID_0E52\\A1b2"},
                                                {"1", "USB\\VID_1234&PID_ABCD\\M1"},
                                                {"2", "USB\\VID_3C7B&PID_0E52\\1-3.2"},
                                            }));
    EXPECT_EQ(portNameOf(*registry, "USB\\VID_3C7B&PID_0E52\\A1b2"), "ttyACM0");
    EXPECT_EQ(portNameOf(*registry, "USB\\VID_1234&PID_ABCD\\M1"), "ttyACM1");
    EXPECT_EQ(portNameOf(*registry, "usb\\vid_3c7b&pid_0e52\\1-3.2"), "ttyACM2");
    EXPECT_EQ(portNameOf(*registry, "USB\\VID_0403&PID_6001\\FT1"), std::nullopt);
    EXPECT_EQ(portNameOf(*registry, "USB\\VID_3C7B&PID_0E52\\A1b"), std::nullopt);
}

TEST(SysfsRegistry, OrdersTtysByNumber) {
    FakeSysfs sysfs;
    for (const char* tty : {"ttyACM10", "ttyACM9", "ttyACM1", "ttyACM0"}) {
        sysfs.addAcmTty(sysfs.addUsbDevice(std::string("1-") + (tty + 6), "3c7b", "0e52", tty),
                        tty);
    }
    auto registry = openSysfsRegistry(sysfs.root());
    Values expected;
    for (const char* tty : {"ttyACM0", "ttyACM1", "ttyACM9", "ttyACM10"}) {
        expected.emplace_back(std::to_string(expected.size()),
                              std::string("USB\\VID_3C7B&PID_0E52\\") + tty);
    }
    EXPECT_EQ(readValues(*registry, kList), expected);
}

struct SerialCase {
    const char* name;
    std::optional<std::string> serial;  // nullopt: no serial attribute
    const char* idInPath;
};

void PrintTo(const SerialCase& c, std::ostream* os) {
    *os << c.name;
}

class SysfsSerialTest : public ::testing::TestWithParam<SerialCase> {};

TEST_P(SysfsSerialTest, NamesTheInstance) {
    FakeSysfs sysfs;
    sysfs.addAcmTty(sysfs.addUsbDevice("2-1.4", "3c7b", "0e52", GetParam().serial), "ttyACM0");
    auto registry = openSysfsRegistry(sysfs.root());
    const std::string instance = std::string("USB\\VID_3C7B&PID_0E52\\") + GetParam().idInPath;
    EXPECT_EQ(readValues(*registry, kList), (Values{{"0", instance}}));
    EXPECT_EQ(portNameOf(*registry, instance), "ttyACM0");
}

INSTANTIATE_TEST_SUITE_P(Serials, SysfsSerialTest,
                         ::testing::Values(SerialCase{"Plain", "0123ABCdef", "0123ABCdef"},
                                           SerialCase{"Absent", std::nullopt, "2-1.4"},
                                           SerialCase{"Empty", "", "2-1.4"},
                                           SerialCase{"WithComma", "12,34", "2-1.4"},
                                           SerialCase{"WithBackslash", "12\\34", "2-1.4"},
                                           SerialCase{"NonAscii", "12\xc3\xa9", "2-1.4"},
                                           SerialCase{"ControlCharacter", "12\t34", "2-1.4"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SysfsRegistry, SharedInstancePathsNamedByInterface) {
    FakeSysfs sysfs;
    const fs::path composite = sysfs.addUsbDevice("1-1", "3c7b", "0e52", "SAME");
    sysfs.addAcmTty(composite, "ttyACM0", 0);
    sysfs.addAcmTty(composite, "ttyACM1", 2);
    sysfs.addAcmTty(sysfs.addUsbDevice("1-2", "3c7b", "0e52", "SAME"), "ttyACM2");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-3", "3c7b", "0e52", "OWN"), "ttyACM3");
    auto registry = openSysfsRegistry(sysfs.root());
    // Appearing together, the first in tty order keeps the serial.
    EXPECT_EQ(readValues(*registry, kList), (Values{
                                                {"0", "USB\\VID_3C7B&PID_0E52\\SAME"},
                                                {"1", "USB\\VID_3C7B&PID_0E52\\1-1:1.2"},
                                                {"2", "USB\\VID_3C7B&PID_0E52\\1-2:1.0"},
                                                {"3", "USB\\VID_3C7B&PID_0E52\\OWN"},
                                            }));
    EXPECT_EQ(portNameOf(*registry, "USB\\VID_3C7B&PID_0E52\\1-1:1.2"), "ttyACM1");
    EXPECT_EQ(portNameOf(*registry, "USB\\VID_3C7B&PID_0E52\\1-2:1.0"), "ttyACM2");

    // A twin plugged in later is the one named by its interface: the imager
    // already there keeps its name, or a station would take it for a new one.
    fs::remove(sysfs.root() / "class/tty/ttyACM0");
    fs::remove(sysfs.root() / "class/tty/ttyACM1");
    EXPECT_EQ(ListUsbImagers(*registry),
              (std::vector<UsbImager>{{"1-2:1.0", "ttyACM2"}, {"OWN", "ttyACM3"}}));
    sysfs.addAcmTty(sysfs.addUsbDevice("1-4", "3c7b", "0e52", "OWN"), "ttyACM4");
    EXPECT_EQ(ListUsbImagers(*registry),
              (std::vector<UsbImager>{
                  {"1-2:1.0", "ttyACM2"}, {"OWN", "ttyACM3"}, {"1-4:1.0", "ttyACM4"}}));
}

// Only a made-up tree can do this: a serial that reads like another
// device's interface, or like a tty's name.
TEST(SysfsRegistry, PathsStillSharedAfterTheInterfaceAreNamedByTty) {
    FakeSysfs sysfs;
    sysfs.addAcmTty(sysfs.addUsbDevice("1-1", "3c7b", "0e52", "SAME"), "ttyACM0");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-2", "3c7b", "0e52", "1-3:1.0"), "ttyACM1");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-3", "3c7b", "0e52", "SAME"), "ttyACM2");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-4", "3c7b", "0e52", "ttyACM4"), "ttyACM3");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-5", "3c7b", "0e52", "ttyACM4"), "ttyACM4");
    auto registry = openSysfsRegistry(sysfs.root());
    EXPECT_EQ(readValues(*registry, kList), (Values{
                                                {"0", "USB\\VID_3C7B&PID_0E52\\SAME"},
                                                {"1", "USB\\VID_3C7B&PID_0E52\\1-3:1.0"},
                                                {"2", "USB\\VID_3C7B&PID_0E52\\ttyACM2"},
                                                {"3", "USB\\VID_3C7B&PID_0E52\\ttyACM4"},
                                                {"4", "USB\\VID_3C7B&PID_0E52\\1-5:1.0"},
                                            }));
    EXPECT_EQ(portNameOf(*registry, "USB\\VID_3C7B&PID_0E52\\ttyACM2"), "ttyACM2");
}

TEST(SysfsRegistry, PassesOverDevicesItCannotRead) {
    FakeSysfs sysfs;
    const fs::path good = sysfs.addUsbDevice("1-1", "3c7b", "0e52", "GOOD");
    sysfs.addAcmTty(good, "ttyACM0");
    // Through a folder that is not there: on paper its ".." cancels the
    // folder out and the link reaches ttyACM0's own folder; the kernel's
    // look goes nowhere.
    const fs::path ttyDir = fs::relative(good / "1-1:1.0/tty/ttyACM0", sysfs.root());
    fs::create_symlink("../../nowhere/.." / ttyDir, sysfs.root() / "class/tty/ttyACM8");
    const fs::path noProduct = sysfs.addUsbDevice("1-2", "3c7b", "0e52", "P");
    fs::remove(noProduct / "idProduct");
    sysfs.addAcmTty(noProduct, "ttyACM1");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-3", "3c7g", "0e52", "V"), "ttyACM2");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-4", "03c7b", "0e52", "W"), "ttyACM3");
    const fs::path gone = sysfs.addUsbDevice("1-5", "3c7b", "0e52", "G");
    sysfs.addAcmTty(gone, "ttyACM4");
    fs::remove_all(gone);  // unplugged while its tty is still listed
    const fs::path unbound = sysfs.addUsbDevice("1-6", "3c7b", "0e52", "U");
    sysfs.addAcmTty(unbound, "ttyACM5");
    fs::remove(unbound / "1-6:1.0" / "driver");
    fs::create_directories(sysfs.root() / "class/tty/ttyACM6");  // no device link
    const fs::path unreadable = sysfs.addUsbDevice("1-7", "3c7b", "0e52", "R");
    sysfs.addAcmTty(unreadable, "ttyACM7");
    fs::remove(unreadable / "serial");
    fs::create_directory(unreadable / "serial");  // reads fail: taken as no serial

    auto registry = openSysfsRegistry(sysfs.root());
    EXPECT_EQ(readValues(*registry, kList), (Values{
                                                {"0", "USB\\VID_3C7B&PID_0E52\\GOOD"},
                                                {"1", "USB\\VID_3C7B&PID_0E52\\1-7"},
                                            }));
}

// One view serves the poll for as long as the program runs: ttys come and go
// under it, and a name the kernel hands to a new device is that device's.
TEST(SysfsRegistry, SeesTtysComeGoAndChangeHands) {
    FakeSysfs sysfs;
    sysfs.addImager("1-1", "ttyACM0", "FIRST");
    auto registry = openSysfsRegistry(sysfs.root());
    EXPECT_EQ(CountUsbDevices(*registry), 1);

    sysfs.addImager("1-2", "ttyACM1", "SECOND");
    EXPECT_EQ(CountUsbDevices(*registry), 2);

    fs::remove(sysfs.root() / "class/tty/ttyACM1");
    EXPECT_EQ(CountUsbDevices(*registry), 1);
    EXPECT_EQ(ListUsbImagers(*registry), (std::vector<UsbImager>{{"FIRST", "ttyACM0"}}));

    // Unplugged and another device plugged in, which gets the freed name. The
    // new link is made before the old one goes, as the kernel's links are
    // new objects: the two cannot share an inode number.
    const fs::path other = sysfs.addUsbDevice("1-3", "3c7b", "0e52", "THIRD");
    sysfs.addAcmTty(other, "ttyACM9");
    fs::rename(sysfs.root() / "class/tty/ttyACM9", sysfs.root() / "class/tty/ttyACM0");
    EXPECT_EQ(readValues(*registry, kList), (Values{{"0", "USB\\VID_3C7B&PID_0E52\\THIRD"}}));
    EXPECT_EQ(portNameOf(*registry, "USB\\VID_3C7B&PID_0E52\\THIRD"), "ttyACM0");
}

TEST(SysfsRegistry, ListAbsentWithoutTtyClass) {
    FakeSysfs sysfs;
    auto registry = openSysfsRegistry(sysfs.root());
    EXPECT_FALSE(registry->openKey(kList));
    EXPECT_FALSE(registry->openKey(u"SYSTEM\\CurrentControlSet\\Enum\\Device Parameters"));
    PortNameTable table;
    EXPECT_EQ(CountUsbDevices(*registry), 0);
    EXPECT_EQ(CollectUsbPorts(*registry, table), 0);
}

// The road the program takes: the system registry, pointed at a fake tree.
TEST(SysfsRegistry, DiscoversImagersUnderSysfsRoot) {
    FakeSysfs sysfs;
    sysfs.addAcmTty(sysfs.addUsbDevice("1-1", "3c7b", "0e52", "IMG1"), "ttyACM0");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-2", "2341", "0043", "MODEM"), "ttyACM1");
    sysfs.addAcmTty(sysfs.addUsbDevice("1-3", "3c7b", "0e52", std::nullopt), "ttyACM2");
    sysfs.addUsbSerialTty(sysfs.addUsbDevice("1-4", "0403", "6001", "FT"), "ttyUSB0", "ftdi_sio");
    sysfs.addUsbSerialTty(sysfs.addUsbDevice("1-5", "0403", "6001", "FT5"), "ttyUSB10", "ftdi_sio");
    sysfs.addUsbSerialTty(sysfs.addUsbDevice("1-6", "0403", "6001", "FT6"), "ttyUSB2", "ftdi_sio");
    for (const char* tty : {"ttyS0", "ttyS19", "ttyS20", "ttyS31", "rfcomm0"}) {
        sysfs.addOtherTty(tty, true);
    }
    sysfs.writeAttribute(sysfs.root() / "devices/virtual/tty/ttyS31/type", "0");
    sysfs.addOtherTty("tty0", false);

    auto registry = [&] {
        const testing::ScopedEnv root("QOR_SYSFS_ROOT", sysfs.root().string());
        return openSystemRegistry();
    }();

    PortNameTable table;
    EXPECT_EQ(CountUsbDevices(*registry), 2);
    EXPECT_EQ(CollectUsbPorts(*registry, table), 2);
    EXPECT_EQ(table, (PortNameTable{"ttyACM0", "ttyACM2"}));
    // Told apart by serial number, or by the USB path without one.
    EXPECT_EQ(ListUsbImagers(*registry),
              (std::vector<UsbImager>{{"IMG1", "ttyACM0"}, {"1-3", "ttyACM2"}}));
    // The RS-232 list's other ports: every tty with a device behind it but
    // the imagers, the ttyS that COM1..COM20 reach and a UART slot with no
    // UART (type 0).
    EXPECT_EQ(ListOtherSerialPorts(*registry),
              (std::vector<std::string>{"rfcomm0", "ttyACM1", "ttyS20", "ttyUSB0", "ttyUSB2",
                                        "ttyUSB10"}));
}

}  // namespace
}  // namespace qor
