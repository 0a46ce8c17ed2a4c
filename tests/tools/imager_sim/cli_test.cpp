#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/manual_pages.h"
#include "tools/imager_sim/cli.h"
#include "tools/imager_sim/control.h"

namespace qor::sim {
namespace {

CliParse parse(std::vector<std::string_view> args) {
    return parseCommandLine(args);
}

TEST(ImagerSimCli, FlagsReachTheOptions) {
    struct Case {
        const char* name;
        std::vector<std::string_view> args;
        std::function<bool(const CliConfig&)> holds;
    };
    const Case cases[] = {
        {"defaults",
         {},
         [](const CliConfig& c) {
             return c.count == 1 && c.link.empty() && c.options.rs232_baud == 0 &&
                    c.options.probe_reply == Reply::kToken && !c.help && !c.self_check;
         }},
        {"count and link",
         {"--count", "3", "--link=/tmp/x/com7"},
         [](const CliConfig& c) { return c.count == 3 && c.link == "/tmp/x/com7"; }},
        {"rs232 with a fault",
         {"--rs232-baud", "57600", "--setup-fault", "stray-byte"},
         [](const CliConfig& c) {
             return c.options.rs232_baud == 57600 &&
                    c.options.setup_fault == SetupFault::kStrayByte;
         }},
        {"probe in the third wait",
         {"--probe-wait", "3"},
         [](const CliConfig& c) { return c.options.probe_delay_ms == 2500; }},
        {"probe refused",
         {"--probe=nack", "--probe-delay=40"},
         [](const CliConfig& c) {
             return c.options.probe_reply == Reply::kNack && c.options.probe_delay_ms == 40;
         }},
        {"hang up at block 5",
         {"--block-fault", "hangup", "--fault-block", "5"},
         [](const CliConfig& c) {
             return c.options.block_fault == BlockFault::kHangUp && c.options.fault_block == 5;
         }},
        {"the tail",
         {"--ack", "ack", "--check-time", "10", "--update", "error", "--write-time", "20",
          "--final", "silent"},
         [](const CliConfig& c) {
             return c.options.taken_reply == Reply::kToken && c.options.check_time_ms == 10 &&
                    c.options.update_reply == Reply::kError && c.options.write_time_ms == 20 &&
                    c.options.final_reply == Reply::kSilent;
         }},
        {"noise with escapes",
         {"--noise-before", "\\x00#", "--noise-after", "\\r\\n"},
         [](const CliConfig& c) {
             return c.options.noise_before == std::string("\0#", 2) &&
                    c.options.noise_after == "\r\n";
         }},
        {"flood",
         {"--flood", "5", "--trickle", "7"},
         [](const CliConfig& c) {
             return c.options.flood_gap_ms == 5 && c.options.trickle_gap_ms == 7;
         }},
        {"instant line by default",
         {},
         [](const CliConfig& c) { return c.options.wire_baud == 0; }},
        {"a USB imager's wire runs at 921600",
         {"--wire", "--turnaround", "3"},
         [](const CliConfig& c) {
             return c.options.wire_baud == 921600 && c.options.block_delay_ms == 3;
         }},
        {"an RS-232 imager's wire runs at the host's rate, whichever flag comes first",
         {"--wire", "--rs232-baud", "38400"},
         [](const CliConfig& c) { return c.options.wire_baud == kWireAtHostRate; }},
        {"a rate given wins over --wire",
         {"--wire-baud", "115200", "--wire"},
         [](const CliConfig& c) { return c.options.wire_baud == 115200; }},
        {"the host's rate by name",
         {"--wire-baud=line"},
         [](const CliConfig& c) { return c.options.wire_baud == kWireAtHostRate; }},
        {"stats file",
         {"--stats", "/tmp/s.txt"},
         [](const CliConfig& c) { return c.stats == "/tmp/s.txt"; }},
        {"sysfs and control",
         {"--sysfs", "/tmp/sys", "--control=-"},
         [](const CliConfig& c) { return c.sysfs == "/tmp/sys" && c.control == "-"; }},
        {"self-check", {"--self-check"}, [](const CliConfig& c) { return c.self_check; }},
        {"help", {"-h"}, [](const CliConfig& c) { return c.help; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliParse parsed = parse(c.args);
        ASSERT_TRUE(parsed.ok) << parsed.error;
        EXPECT_TRUE(c.holds(parsed.config));
    }
}

TEST(ImagerSimCli, BadCommandLinesAreRefusedWithAReason) {
    struct Case {
        const char* name;
        std::vector<std::string_view> args;
        std::string_view mentions;
    };
    const Case cases[] = {
        {"unknown flag", {"--fast"}, "--fast"},
        {"missing value", {"--count"}, "--count"},
        {"zero imagers", {"--count", "0"}, "--count"},
        {"rate the line cannot take", {"--rs232-baud", "12345"}, "--rs232-baud"},
        {"unknown reply", {"--header", "maybe"}, "--header"},
        {"value on a switch", {"--help=yes"}, "--help"},
        {"bad escape", {"--noise-after", "\\x4"}, "--noise-after"},
        {"negative time", {"--check-time", "-5"}, "--check-time"},
        {"no wire rate", {"--wire-baud", "0"}, "--wire-baud"},
        {"wire rate not a number", {"--wire-baud", "fast"}, "--wire-baud"},
        {"stats without a file", {"--stats="}, "--stats"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const CliParse parsed = parse(c.args);
        EXPECT_FALSE(parsed.ok);
        EXPECT_NE(parsed.error.find(c.mentions), std::string::npos) << parsed.error;
    }
}

TEST(ImagerSimCli, HelpAndManualPageNameEveryOption) {
    const std::string usage = usageText();
    const std::string manual = testing::manualPage("qor-imager-sim.1");
    ASSERT_FALSE(manual.empty());
    for (const std::string_view name : longOptionNames()) {
        EXPECT_TRUE(testing::namesLongOption(usage, name)) << "--help lacks --" << name;
        EXPECT_TRUE(testing::namesLongOption(manual, name)) << "qor-imager-sim.1 lacks --" << name;
    }
}

TEST(ImagerSimCli, ControlLines) {
    using Kind = ControlCommand::Kind;
    struct Case {
        std::string_view line;
        Kind kind;
        unsigned slot;
    };
    const Case cases[] = {
        {"plug 3", Kind::Plug, 3},
        {"  unplug\t12 \r", Kind::Unplug, 12},
        {"", Kind::None, 0},
        {"# a remark", Kind::None, 0},
        {"unplug 1 # a remark", Kind::Unplug, 1},
        {"record 4", Kind::Record, 4},
        {"record", Kind::Invalid, 0},
        {"plug", Kind::Invalid, 0},
        {"plug -1", Kind::Invalid, 0},
        {"plug 1x", Kind::Invalid, 0},
        {"pull 1", Kind::Invalid, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const ControlCommand command = parseControlLine(c.line);
        EXPECT_EQ(command.kind, c.kind);
        EXPECT_EQ(command.slot, c.slot);
        EXPECT_EQ(command.error.empty(), c.kind != Kind::Invalid);
    }
}

TEST(ImagerSimCli, LinkNamesCountOn) {
    EXPECT_EQ(linkPathFor("/w/dosdevices/com7", 1, 0), "/w/dosdevices/com7");
    EXPECT_EQ(linkPathFor("/w/dosdevices/com7", 3, 0), "/w/dosdevices/com7");
    EXPECT_EQ(linkPathFor("/w/dosdevices/com7", 3, 2), "/w/dosdevices/com9");
    EXPECT_EQ(linkPathFor("/tmp/sim", 2, 1), "/tmp/sim1");
    EXPECT_EQ(linkPathFor("/tmp/2/sim", 2, 0), "/tmp/2/sim0");
}

}  // namespace
}  // namespace qor::sim
