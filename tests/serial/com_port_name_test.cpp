#include "serial/com_port_name.h"

#include <gtest/gtest.h>

#include <string>

namespace qor {
namespace {

struct PathCase {
    const char* name;
    std::string portName;
    const char* portDir;
    std::string expected;
};

class PosixDevicePath : public ::testing::TestWithParam<PathCase> {};

TEST_P(PosixDevicePath, Maps) {
    EXPECT_EQ(posixDevicePath(GetParam().portName, GetParam().portDir), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PosixDevicePath,
    ::testing::Values(
        PathCase{"Com1IsTheFirstPlatformPort", "COM1", nullptr, "/dev/ttyS0"},
        PathCase{"TwoDigitComNames", "COM10", nullptr, "/dev/ttyS9"},
        PathCase{"Com20", "COM20", nullptr, "/dev/ttyS19"},
        PathCase{"UsbShortName", "ttyACM0", nullptr, "/dev/ttyACM0"},
        PathCase{"AdapterShortName", "ttyUSB3", nullptr, "/dev/ttyUSB3"},
        PathCase{"ComZeroIsNotAComName", "COM0", nullptr, "/dev/COM0"},
        PathCase{"ComWithLetters", "COM1a", nullptr, "/dev/COM1a"},
        PathCase{"LowerCaseComIsAShortName", "com1", nullptr, "/dev/com1"},
        PathCase{"FullPathAsItStands", "/dev/pts/7", nullptr, "/dev/pts/7"},
        PathCase{"FullPathIgnoresPortDir", "/dev/pts/7", "/tmp/ports", "/dev/pts/7"},
        PathCase{"ElevenCharactersFit", "ttyACM12345", nullptr, "/dev/ttyACM12345"},
        PathCase{"TwelveCharactersDoNot", "ttyACM123456", nullptr, ""},
        PathCase{"Empty", "", nullptr, ""},
        PathCase{"NoWayOutOfTheFolder", "../etc", "/tmp/ports", ""},
        PathCase{"DotDot", "..", nullptr, ""},
        PathCase{"PortDirTakesComNamesAsTheyAre", "COM1", "/tmp/ports", "/tmp/ports/COM1"},
        PathCase{"PortDirWithTrailingSlash", "ttyACM0", "/tmp/ports/", "/tmp/ports/ttyACM0"},
        PathCase{"EmptyPortDirIsNoPortDir", "ttyACM0", "", "/dev/ttyACM0"}),
    [](const auto& info) { return info.param.name; });

TEST(Win32DevicePath, PrefixesTheDeviceNamespace) {
    EXPECT_EQ(win32DevicePath(u"COM7"), u"\\\\.\\COM7");
    EXPECT_EQ(win32DevicePath(u"COM20"), u"\\\\.\\COM20");
    // Four characters of prefix, eleven of name and the terminator fill the
    // sixteen-character path exactly.
    EXPECT_EQ(win32DevicePath(u"COM12345678").size(), 15u);
    EXPECT_EQ(win32DevicePath(u"COM123456789"), u"");
    EXPECT_EQ(win32DevicePath(u""), u"");
}

}  // namespace
}  // namespace qor
