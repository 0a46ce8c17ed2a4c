#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/flash/options.h"
#include "tests/support/manual_pages.h"
#include "text/result_codes.h"
#include "text/ui_language.h"

namespace qor {
namespace {

using Mode = FlashOptions::Mode;

struct Accepted {
    const char* name;
    std::vector<std::string_view> args;
    Mode mode;
    std::string port;
    std::string image;
    std::optional<uint16_t> language = std::nullopt;
    bool quiet = false;
    bool json = false;
    int maxDevices = 6;
    int count = 0;
    std::string report = "";
    std::vector<std::string> instances = {};
};

class AcceptedOptions : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedOptions, Parse) {
    const Accepted& row = GetParam();
    const FlashOptionsParse parsed = parseFlashOptions(row.args);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.options.mode, row.mode);
    EXPECT_EQ(parsed.options.portName, row.port);
    EXPECT_EQ(parsed.options.image, row.image);
    EXPECT_EQ(parsed.options.language, row.language);
    EXPECT_EQ(parsed.options.quiet, row.quiet);
    EXPECT_EQ(parsed.options.json, row.json);
    EXPECT_EQ(parsed.options.maxDevices, row.maxDevices);
    EXPECT_EQ(parsed.options.count, row.count);
    EXPECT_EQ(parsed.options.report, row.report);
    EXPECT_EQ(parsed.options.instances, row.instances);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AcceptedOptions,
    ::testing::Values(
        Accepted{"ImageAloneIsUsb", {"fw.bin"}, Mode::Usb, "", "fw.bin"},
        Accepted{"Watch", {"--watch", "fw.bin"}, Mode::Watch, "", "fw.bin"},
        Accepted{"WatchBeyondTheWindowsRows",
                 {"--watch", "--max-devices=32", "--count", "5", "--report", "r.csv", "fw.bin"},
                 Mode::Watch,
                 "",
                 "fw.bin",
                 std::nullopt,
                 false,
                 false,
                 32,
                 5,
                 "r.csv"},
        Accepted{"UsbSpelledOut", {"--usb", "fw.bin"}, Mode::Usb, "", "fw.bin"},
        Accepted{.name = "ReportOfAnRs232Run",
                 .args = {"--port", "COM3", "--report=r.csv", "fw.bin"},
                 .mode = Mode::Port,
                 .port = "COM3",
                 .image = "fw.bin",
                 .report = "r.csv"},
        Accepted{"PortAsNextArgument", {"--port", "COM3", "fw.bin"}, Mode::Port, "COM3", "fw.bin"},
        Accepted{
            "PortAfterEquals", {"--port=/dev/ttyS0", "fw.bin"}, Mode::Port, "/dev/ttyS0", "fw.bin"},
        Accepted{"OptionsAfterTheImage",
                 {"fw.bin", "--json", "-q"},
                 Mode::Usb,
                 "",
                 "fw.bin",
                 std::nullopt,
                 true,
                 true},
        Accepted{
            "ClusteredShortFlags", {"-q", "fw.bin"}, Mode::Usb, "", "fw.bin", std::nullopt, true},
        Accepted{"DashDashEndsOptions", {"--", "--json"}, Mode::Usb, "", "--json"},
        Accepted{"LoneDashIsAFile", {"-"}, Mode::Usb, "", "-"},
        Accepted{
            "Chinese", {"--lang", "zh", "fw.bin"}, Mode::Usb, "", "fw.bin", kUiLanguageChinese},
        Accepted{"EnglishAfterEquals",
                 {"--lang=en", "fw.bin"},
                 Mode::Usb,
                 "",
                 "fw.bin",
                 kUiLanguageEnglish},
        Accepted{"List", {"--list", "--json"}, Mode::List, "", "", std::nullopt, false, true},
        Accepted{.name = "InstancesRepeatedOrListedEachOnce",
                 .args = {"--instance", "SN1,1-1.2", "--usb", "--instance=SN1", "fw.bin"},
                 .mode = Mode::Usb,
                 .port = "",
                 .image = "fw.bin",
                 .instances = {"SN1", "1-1.2"}},
        Accepted{.name = "InstanceWithWatch",
                 .args = {"--watch", "--instance", "SN1", "fw.bin"},
                 .mode = Mode::Watch,
                 .port = "",
                 .image = "fw.bin",
                 .instances = {"SN1"}},
        Accepted{"HelpWinsOverEverythingElse", {"--port", "COM1", "-h"}, Mode::Help, "COM1", ""},
        Accepted{"Version", {"-V"}, Mode::Version, "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct Refused {
    const char* name;
    std::vector<std::string_view> args;
    const char* error;
};

class RefusedOptions : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedOptions, SayWhy) {
    const FlashOptionsParse parsed = parseFlashOptions(GetParam().args);
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RefusedOptions,
    ::testing::Values(
        Refused{"NoImage", {}, "missing IMAGE operand"},
        Refused{"TwoImages", {"a.bin", "b.bin"}, "extra operand 'b.bin'"},
        Refused{"UnknownLong", {"--force", "a.bin"}, "unrecognized option '--force'"},
        Refused{"UnknownShort", {"-x", "a.bin"}, "invalid option -- 'x'"},
        Refused{"PortWithoutName", {"a.bin", "--port"}, "option '--port' requires an argument"},
        Refused{"PortEmpty", {"--port=", "a.bin"}, "option '--port' needs a port name"},
        Refused{
            "FlagWithValue", {"--json=yes", "a.bin"}, "option '--json' doesn't allow an argument"},
        Refused{"UnknownLanguage",
                {"--lang", "fr", "a.bin"},
                "invalid argument 'fr' for '--lang' (valid: en, zh)"},
        Refused{"UsbAndPort",
                {"--usb", "--port", "COM1", "a.bin"},
                "'--usb' and '--port' exclude each other"},
        Refused{"ListWithPort",
                {"--list", "--port", "COM1"},
                "'--list' takes neither '--usb' nor '--port'"},
        Refused{"ListWithImage", {"--list", "a.bin"}, "extra operand 'a.bin'"},
        Refused{"MaxDevicesAbove32",
                {"--watch", "--max-devices", "33", "a.bin"},
                "invalid argument '33' for '--max-devices' (1 to 32)"},
        Refused{"CountZero",
                {"--watch", "--count=0", "a.bin"},
                "invalid argument '0' for '--count' (1 to 1000000)"},
        Refused{"CountWithoutWatch",
                {"--count", "3", "a.bin"},
                "'--max-devices' and '--count' go with '--watch'"},
        Refused{"ReportWithList",
                {"--list", "--report", "r.csv"},
                "'--list' updates nothing to report: it takes no '--report'"},
        Refused{"InstanceWithPort",
                {"--port", "COM1", "--instance", "SN1", "a.bin"},
                "'--port' and '--instance' exclude each other"},
        Refused{"InstanceWithAnEmptyName",
                {"--instance", "SN1,,SN2", "a.bin"},
                "option '--instance' needs an instance for each name in 'SN1,,SN2'"},
        Refused{"WatchWithPort",
                {"--watch", "--port", "COM1", "a.bin"},
                "'--watch' takes neither '--usb', '--port' nor '--list'"}),
    [](const auto& info) { return std::string(info.param.name); });

// --help and the manual page name every option and exit status, and the
// manual page every result code, so that they cannot fall behind the program
// again.
TEST(FlashUsage, DocumentsEveryOptionAndExitStatus) {
    const std::string usage = flashUsageText();
    const std::string manual = testing::manualPage("qor-flash.1");
    ASSERT_FALSE(manual.empty());
    for (const std::string_view name : flashLongOptionNames()) {
        EXPECT_TRUE(testing::namesLongOption(usage, name)) << "--help lacks --" << name;
        EXPECT_TRUE(testing::namesLongOption(manual, name)) << "qor-flash.1 lacks --" << name;
    }
    for (const std::string status : {"0", "1", "2", "3", "4", "129", "130", "143"}) {
        EXPECT_NE(usage.find("\n  " + status + " "), std::string::npos) << status;
        EXPECT_NE(manual.find("\n.B " + status + "\n"), std::string::npos) << status;
    }
    for (const std::string_view code : everyResultCode()) {
        EXPECT_TRUE(testing::namesWord(manual, code)) << "qor-flash.1 lacks " << code;
    }
}

}  // namespace
}  // namespace qor
