#include "serial/usb_discovery.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "serial/serial_port_list.h"
#include "tests/support/fake_registry.h"

namespace qor {
namespace {

using testing::FakeRegistry;

// Written out here rather than taken from the product's headers, so that a
// wrong path there fails these tests.
constexpr std::u16string_view kList = u"SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";

std::u16string parameters(std::u16string_view instance) {
    return u"SYSTEM\\CurrentControlSet\\Enum\\" + std::u16string(instance) + u"\\Device Parameters";
}

std::u16string imagerPath(std::u16string_view serial) {
    return u"USB\\VID_3C7B&PID_0E52\\" + std::u16string(serial);
}

// An instance listed by the driver, with its port name when given.
void addDevice(FakeRegistry& registry, std::u16string_view instance, std::u16string_view port) {
    registry.addString(kList, u"0", instance);
    if (!port.empty()) {
        registry.addString(parameters(instance), u"PortName", port);
    }
}

void addImager(FakeRegistry& registry, std::u16string_view serial, std::u16string_view port) {
    addDevice(registry, imagerPath(serial), port);
}

struct DiscoveryCase {
    const char* name;
    std::function<void(FakeRegistry&)> setUp;
    uint8_t count;
    uint8_t collected;
    PortNameTable tableAfter;  // from an empty table
};

void PrintTo(const DiscoveryCase& c, std::ostream* os) {
    *os << c.name;
}

class DiscoveryTest : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(DiscoveryTest, CountsAndCollects) {
    const DiscoveryCase& c = GetParam();
    FakeRegistry forCount;
    c.setUp(forCount);
    EXPECT_EQ(CountUsbDevices(forCount), c.count);
    EXPECT_EQ(forCount.openKeyCount(), 0);

    FakeRegistry forCollect;
    c.setUp(forCollect);
    PortNameTable table;
    EXPECT_EQ(CollectUsbPorts(forCollect, table), c.collected);
    EXPECT_EQ(table, c.tableAfter);
    EXPECT_EQ(forCollect.openKeyCount(), 0);
}

std::u16string repeat(char16_t c, std::size_t n) {
    return std::u16string(n, c);
}

const DiscoveryCase kCases[] = {
    {"ListAbsent", [](FakeRegistry&) {}, 0, 0, {}},
    {"ListEmpty", [](FakeRegistry& r) { r.addKey(kList); }, 0, 0, {}},
    {"TwoImagersInListOrder",
     [](FakeRegistry& r) {
         addImager(r, u"B2", u"COM12");
         addImager(r, u"A1", u"COM3");
     },
     2,
     2,
     {"COM12", "COM3"}},
    {"OtherDevicesOfTheDriverIgnored",
     [](FakeRegistry& r) {
         addDevice(r, u"USB\\VID_1234&PID_0E52\\1", u"COM5");
         r.addValue(kList, u"Count", registry_type::kDword, {2, 0, 0, 0});
         addImager(r, u"1", u"COM3");
     },
     1,
     1,
     {"COM3"}},
    {"LowerCaseIdNotMatched",
     [](FakeRegistry& r) { addDevice(r, u"USB\\VID_3c7b&PID_0e52\\1", u"COM3"); },
     0,
     0,
     {}},
    {"IdAfterEmbeddedNullNotMatched",
     [](FakeRegistry& r) {
         r.addString(kList, u"0", std::u16string(u"USB\\X\0VID_3C7B&PID_0E52\\1", 26));
     },
     0,
     0,
     {}},
    {"DataWithoutNullMatchesToItsEnd",
     [](FakeRegistry& r) {
         r.addValue(kList, u"0", registry_type::kString, FakeRegistry::rawData(imagerPath(u"1")));
         r.addString(parameters(imagerPath(u"1")), u"PortName", u"COM3");
     },
     1,
     1,
     {"COM3"}},
    {"NineImagersEightGathered",
     [](FakeRegistry& r) {
         for (char16_t n = u'1'; n <= u'9'; ++n) {
             addImager(r, std::u16string(1, n), u"COM" + std::u16string(1, n));
         }
     },
     9,
     8,
     {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}},
    {"NonMatchingValueBetweenMatchesLeavesNoTrace",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"COM3");
         addDevice(r, u"USB\\VID_1234&PID_5678\\7", u"COM7");
         addImager(r, u"2", u"COM4");
     },
     2,
     2,
     {"COM3", "COM4"}},
    {"PortNameWithoutComCountsButIsNotWritten",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"LPT1");
         addImager(r, u"2", u"COM4");
     },
     2,
     2,
     {"", "COM4"}},
    {"PortNameValueFoundBySubstring",
     [](FakeRegistry& r) {
         r.addString(kList, u"0", imagerPath(u"1"));
         r.addString(parameters(imagerPath(u"1")), u"Other", u"COM1");
         r.addString(parameters(imagerPath(u"1")), u"XPortNameY", u"COM6");
     },
     1,
     1,
     {"COM6"}},
    {"NoPortNameValueLeavesEntry",
     [](FakeRegistry& r) {
         // The last value read sits in the buffer but was never a port name.
         r.addString(kList, u"0", imagerPath(u"1"));
         r.addString(parameters(imagerPath(u"1")), u"portname", u"COM6");
         r.addString(parameters(imagerPath(u"1")), u"Other", u"COM7");
     },
     1,
     1,
     {}},
    {"FirstPortNameValueDecides",
     [](FakeRegistry& r) {
         r.addString(kList, u"0", imagerPath(u"1"));
         r.addString(parameters(imagerPath(u"1")), u"PortName", u"LPT1");
         r.addString(parameters(imagerPath(u"1")), u"PortName2", u"COM5");
     },
     1,
     1,
     {}},
    {"MissingParametersKeyAfterWrittenEntries",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"COM3");
         addImager(r, u"2", u"");
         addImager(r, u"3", u"COM5");
     },
     3,
     0,
     {"COM3"}},
    {"InstanceDataTooLargeSkipped",
     [](FakeRegistry& r) {
         addImager(r, repeat(u'x', 260), u"COM8");
         addImager(r, u"1", u"COM3");
     },
     1,
     1,
     {"COM3"}},
    {"ValueNameTooLargeSkipped",
     [](FakeRegistry& r) {
         r.addString(kList, repeat(u'n', 260), imagerPath(u"1"));
         r.addString(kList, repeat(u'n', 259), imagerPath(u"2"));
         r.addString(parameters(imagerPath(u"2")), u"PortName", u"COM4");
     },
     1,
     1,
     {"COM4"}},
    {"PortNameOfFifteenWritten",
     [](FakeRegistry& r) { addImager(r, u"1", u"COM123456789012"); },
     1,
     1,
     {"COM123456789012"}},
    {"PortNameOfSixteenTooLarge",
     [](FakeRegistry& r) { addImager(r, u"1", u"COM1234567890123"); },
     1,
     1,
     {}},
    {"PortNameFillingBufferWithoutNull",
     [](FakeRegistry& r) {
         r.addString(kList, u"0", imagerPath(u"1"));
         r.addValue(parameters(imagerPath(u"1")), u"PortName", registry_type::kString,
                    FakeRegistry::rawData(u"COM1234567890123"));
     },
     1,
     1,
     {}},
    {"PortNameWithNoDataAtAll",
     [](FakeRegistry& r) {
         r.addString(kList, u"0", imagerPath(u"1"));
         r.addValue(parameters(imagerPath(u"1")), u"PortName", registry_type::kString,
                    FakeRegistry::rawData(u""));
     },
     1,
     1,
     {}},
    {"PortNameConvertedToUtf8",
     [](FakeRegistry& r) { addImager(r, u"1", u"COM\u00e9"); },
     1,
     1,
     {"COM\xc3\xa9"}},
    {"PortNameWithLoneSurrogateNotWritten",
     [](FakeRegistry& r) { addImager(r, u"1", std::u16string(u"COM") + char16_t(0xD800)); },
     1,
     1,
     {}},
    {"InstancePathOf211Fits",
     [](FakeRegistry& r) { addDevice(r, imagerPath(repeat(u's', 189)), u"COM3"); },
     1,
     1,
     {"COM3"}},
    {"InstancePathOf212CountsButIsNotWritten",
     [](FakeRegistry& r) {
         addDevice(r, imagerPath(repeat(u's', 190)), u"COM3");
         addImager(r, u"1", u"COM4");
     },
     2,
     2,
     {"", "COM4"}},
    {"MoreDataAtAnIndexPassedOver",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"COM3");
         addImager(r, u"2", u"COM4");
         r.failRead(kList, 0, RegistryResult::MoreData);
     },
     1,
     1,
     {"COM4"}},
    {"ListErrorEndsWalkAsUnreadable",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"COM3");
         addImager(r, u"2", u"COM4");
         r.failRead(kList, 1, RegistryResult::OtherError);
     },
     0,
     0,
     {}},
    {"ListRemovedDuringWalk",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"COM3");
         addImager(r, u"2", u"COM4");
         r.onRead([&r](std::u16string_view path, uint32_t index) {
             if (path == kList && index == 1) {
                 r.removeKey(kList);
             }
         });
     },
     0,
     0,
     {}},
    {"ParametersKeyRemovedDuringWalk",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"COM3");
         r.addString(parameters(imagerPath(u"2")), u"Other", u"x");
         addImager(r, u"2", u"COM4");
         r.onRead([&r](std::u16string_view path, uint32_t index) {
             if (path == parameters(imagerPath(u"2")) && index == 1) {
                 r.removeKey(path);
             }
         });
     },
     2,
     0,
     {"COM3"}},
};

INSTANTIATE_TEST_SUITE_P(Registry, DiscoveryTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct ListingCase {
    const char* name;
    std::function<void(FakeRegistry&)> setUp;
    std::optional<std::vector<UsbImager>> listed;
};

void PrintTo(const ListingCase& c, std::ostream* os) {
    *os << c.name;
}

class ListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingTest, ListsInstancesBesideTheirPorts) {
    FakeRegistry registry;
    GetParam().setUp(registry);
    EXPECT_EQ(ListUsbImagers(registry), GetParam().listed);
    EXPECT_EQ(registry.openKeyCount(), 0);
}

using Imagers = std::vector<UsbImager>;

const ListingCase kListings[] = {
    {"ListAbsentIsNoImager", [](FakeRegistry&) {}, Imagers{}},
    {"SerialOrPlaceOfAttachmentInListOrder",
     [](FakeRegistry& r) {
         addImager(r, u"B2", u"COM12");
         addDevice(r, u"USB\\VID_1234&PID_0E52\\1", u"COM5");
         addImager(r, u"6&1a2b3c4&0&2", u"COM3");
     },
     Imagers{{"B2", "COM12"}, {"6&1a2b3c4&0&2", "COM3"}}},
    // The table's limit of eight binds the window, not the listing.
    {"NineImagersAllListed",
     [](FakeRegistry& r) {
         for (char16_t n = u'1'; n <= u'9'; ++n) {
             addImager(r, std::u16string(1, n), u"COM" + std::u16string(1, n));
         }
     },
     Imagers{{"1", "COM1"},
             {"2", "COM2"},
             {"3", "COM3"},
             {"4", "COM4"},
             {"5", "COM5"},
             {"6", "COM6"},
             {"7", "COM7"},
             {"8", "COM8"},
             {"9", "COM9"}}},
    // Listed by the driver but with no port named yet, or none usable: there,
    // and told apart, but without a port.
    {"MissingOrUnusablePortLeftEmpty",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"");
         addImager(r, u"2", u"LPT1");
         addImager(r, u"3", std::u16string(u"COM") + char16_t(0xD800));
         addImager(r, u"4", u"COM4");
     },
     Imagers{{"1", ""}, {"2", ""}, {"3", ""}, {"4", "COM4"}}},
    {"InstanceConvertedToUtf8",
     [](FakeRegistry& r) { addImager(r, std::u16string(u"S\u00e9") + char16_t(0xDC00), u"COM3"); },
     Imagers{{"S\xc3\xa9\xef\xbf\xbd", "COM3"}}},
    {"ListErrorIsNoAnswer",
     [](FakeRegistry& r) {
         addImager(r, u"1", u"COM3");
         addImager(r, u"2", u"COM4");
         r.failRead(kList, 1, RegistryResult::OtherError);
     },
     std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Registry, ListingTest, ::testing::ValuesIn(kListings),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CollectUsbPorts, NeverClearsEntriesItDoesNotWrite) {
    FakeRegistry registry;
    addImager(registry, u"1", u"LPT1");
    addImager(registry, u"2", u"COM4");
    PortNameTable table{"COM9", "COM8", "COM7"};
    EXPECT_EQ(CollectUsbPorts(registry, table), 2);
    EXPECT_EQ(table, (PortNameTable{"COM9", "COM4", "COM7"}));
}

TEST(CollectUsbPortsForRun, FailsUnlessEveryImagerIsNamedAndKeepsNoOldEntry) {
    FakeRegistry unnamed;
    addImager(unnamed, u"1", u"COM3");
    addImager(unnamed, u"2", u"LPT1");
    PortNameTable table{"COM9", "COM8", "COM7"};
    EXPECT_EQ(CollectUsbPortsForRun(unnamed, table), 0);
    EXPECT_EQ(table, (PortNameTable{"COM3"}));

    FakeRegistry named;
    addImager(named, u"1", u"COM3");
    addImager(named, u"2", u"COM4");
    table = {"COM9", "COM8", "COM7"};
    EXPECT_EQ(CollectUsbPortsForRun(named, table), 2);
    EXPECT_EQ(table, (PortNameTable{"COM3", "COM4"}));
}

TEST(CollectUsbPorts, ReadsNoFurtherAfterTheEighthMatch) {
    FakeRegistry registry;
    for (char16_t n = u'1'; n <= u'9'; ++n) {
        addImager(registry, std::u16string(1, n), u"COM" + std::u16string(1, n));
    }
    PortNameTable table;
    EXPECT_EQ(CollectUsbPorts(registry, table), 8);
    EXPECT_EQ(registry.highestIndexRead(kList), 7);
    EXPECT_EQ(registry.timesOpened(parameters(imagerPath(u"9"))), 0);
}

TEST(CountUsbDevices, SaturatesInsteadOfWrapping) {
    FakeRegistry registry;
    for (int n = 0; n < 300; ++n) {
        registry.addString(kList, u"v", imagerPath(u"n"));
    }
    EXPECT_EQ(CountUsbDevices(registry), 255);
}

// The RS-232 list's other ports, from Windows' list of every serial port.
TEST(ListOtherSerialPorts, PortsPastTheTwentyInNaturalOrderWithoutImagers) {
    constexpr std::u16string_view kSerialComm = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";
    FakeRegistry registry;
    EXPECT_EQ(ListOtherSerialPorts(registry), std::vector<std::string>{}) << "no list at all";
    addImager(registry, u"1", u"COM22");
    for (const char16_t* port : {u"COM1", u"COM100", u"COM27", u"com20", u"COM21", u"COM22",
                                 u"COM020", u"COM27", u"LPT1", u"COM\u00e930"}) {
        registry.addString(kSerialComm, u"\\Device\\Serial", port);
    }
    registry.addValue(kSerialComm, u"\\Device\\Odd", registry_type::kDword, {31, 0, 0, 0});
    // COM1..COM20 are in the list already, however written; an imager is
    // updated in USB mode; a port listed twice shows once.
    EXPECT_EQ(ListOtherSerialPorts(registry),
              (std::vector<std::string>{"COM020", "COM21", "COM27", "COM100"}));
    EXPECT_EQ(registry.openKeyCount(), 0);
}

}  // namespace
}  // namespace qor
