// The Win32 serial backend on a real COM port of wine: COM<n> of the test
// prefix leads to a pseudo-terminal whose master this test holds as the far
// end, while qor-com-probe.exe opens the port with OpenComPort and reports
// what the port holds and how it behaved.

#include <gtest/gtest.h>
#include <termios.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/support/wine_session.h"
#include "tools/testkit/pty_pair.h"

namespace qor {
namespace {

using harness::ChildProcess;
using harness::ProgramResult;

constexpr int kComNumber = 20;
constexpr auto kTimeout = std::chrono::seconds(60);

struct Rate {
    uint32_t rate;
    speed_t speed;
};

void PrintTo(const Rate& rate, std::ostream* out) {
    *out << rate.rate;
}

std::map<std::string, std::string> reportOf(const std::string& output) {
    std::map<std::string, std::string> values;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        const auto equals = line.find('=');
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();  // the Windows console's line ends
        }
        if (equals != std::string::npos) {
            values[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return values;
}

std::string allByteValues(bool reversed) {
    std::string bytes;
    for (int value = 0; value < 256; ++value) {
        bytes += static_cast<char>(reversed ? 255 - value : value);
    }
    return bytes;
}

std::string hex(const std::string& bytes) {
    std::string text;
    for (char c : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
        text += pair;
    }
    return text;
}

class WineComPort : public ::testing::TestWithParam<Rate> {
  protected:
    WineComPort() {
        // Leave the line in a state far from the one the port must take, so
        // every setting read back below was made by the open.
        termios tio{};
        ::tcgetattr(line.master(), &tio);
        ::cfsetspeed(&tio, B1200);
        tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
        tio.c_iflag |= IXON | IXOFF;
        ::tcsetattr(line.master(), TCSANOW, &tio);
    }

    // Reads from the far end until `count` bytes came or the time is up.
    std::string receive(size_t count) { return line.receive(count, kTimeout); }

    testing::PtyPair line;
    testing::ComPortLink port{kComNumber, line.slavePath()};
    testing::TempDir dir;
};

TEST_P(WineComPort, HoldsTheLineSettingsAndCarriesBytesUntilTheFarEndHangsUp) {
    const auto hungUpFlag = dir / "hung-up";
    ChildProcess probe(testing::wineCommand(),
                       {testing::windowsProgram("tests/wine/qor-com-probe.exe"), port.name(),
                        std::to_string(GetParam().rate), testing::windowsPath(hungUpFlag)},
                       testing::wineEnvironment());
    ASSERT_TRUE(probe.started());

    // The probe sends every byte value once it has read the silent line.
    EXPECT_EQ(hex(receive(256)), hex(allByteValues(false)));
    termios tio{};
    ASSERT_EQ(::tcgetattr(line.master(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), GetParam().speed);
    EXPECT_EQ(::cfgetispeed(&tio), GetParam().speed);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);

    line.send(allByteValues(true));
    EXPECT_EQ(receive(1), "K");
    line.hangUp();
    std::ofstream(hungUpFlag).put('\n');

    const ProgramResult result = probe.wait(kTimeout);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    auto report = reportOf(result.out);
    const std::map<std::string, std::string> expected = {
        {"open", "1"},
        {"get_comm_state", "1"},
        {"baud", std::to_string(GetParam().rate)},
        {"byte_size", "8"},
        {"parity", "0"},     // NOPARITY
        {"stop_bits", "0"},  // ONESTOPBIT
        {"dtr_control", "1"},
        {"rts_control", "1"},
        {"get_comm_timeouts", "1"},
        {"read_interval", "1"},
        {"read_multiplier", "1"},
        {"read_constant", "1"},
        {"write_multiplier", "1"},
        {"write_constant", "1"},
        {"silent_read_got", "0"},
        {"write_all", "1"},
        {"received", hex(allByteValues(true))},
        {"ack", "1"},
        {"hung_up", "1"},
        {"bytes_after_hang_up", "0"},
        {"writes_after_hang_up", "0"},
    };
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(report[name], value) << name;
    }
    // Binary, parity checking flag, DTR and RTS enabled; no flow control.
    // Wine keeps no parity checking flag of its own: with no parity bit on
    // the line it reads back clear, so that one bit is left out here.
    EXPECT_EQ(std::stoul(report["flags"]) | 0x2UL, 0x1013UL) << report["flags"];
    // Quick answers on a silent line and after the hang-up, never a hang.
    EXPECT_LT(std::stol(report["silent_read_us"]), 500000);
    EXPECT_LT(std::stol(report["longest_call_after_hang_up_us"]), 500000);
}

INSTANTIATE_TEST_SUITE_P(Rates, WineComPort,
                         ::testing::Values(Rate{921600, B921600}, Rate{9600, B9600}),
                         [](const auto& info) { return std::to_string(info.param.rate); });

}  // namespace
}  // namespace qor
