#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "serial/serial_port.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tools/testkit/pty_pair.h"

namespace qor {
namespace {

using testing::PtyPair;
using Stage = OpenFailure::Stage;

int64_t msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Reads `count` bytes, each within a deadline of seconds.
std::string readCount(SerialPort& port, std::size_t count) {
    std::string got;
    uint8_t byte = 0;
    while (got.size() < count && port.readByte(byte, 10'000)) {
        got += static_cast<char>(byte);
    }
    return got;
}

class SerialPortRate : public ::testing::TestWithParam<std::pair<uint32_t, speed_t>> {};

TEST_P(SerialPortRate, OpensRawEightNoneOneAtTheCallersRate) {
    PtyPair pty;
    const auto [baud, speed] = GetParam();
    PortHandle port = OpenComPort(pty.slavePath(), baud);
    ASSERT_NE(port, nullptr);

    // The master reports the slave's settings on Linux.
    termios tio{};
    ASSERT_EQ(::tcgetattr(pty.master(), &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), speed);
    EXPECT_EQ(::cfgetispeed(&tio), speed);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SerialPortRate,
    ::testing::Values(std::pair{9600u, speed_t{B9600}}, std::pair{38400u, speed_t{B38400}},
                      std::pair{57600u, speed_t{B57600}}, std::pair{115200u, speed_t{B115200}},
                      std::pair{230400u, speed_t{B230400}}, std::pair{921600u, speed_t{B921600}}),
    [](const auto& info) { return std::to_string(info.param.first); });

TEST(SerialPort, RefusedRateLeavesNothingOpen) {
    PtyPair pty;
    OpenFailure why;
    EXPECT_EQ(OpenComPort(pty.slavePath(), 12345, &why), nullptr);
    EXPECT_EQ(why.stage, Stage::Configure);
    // Nothing of the refused open holds the port.
    EXPECT_NE(OpenComPort(pty.slavePath(), 115200), nullptr);
}

TEST(SerialPort, SecondOpenOfTheSamePortFailsEvenForRoot) {
    PtyPair pty;
    PortHandle first = OpenComPort(pty.slavePath(), 115200);
    ASSERT_NE(first, nullptr);
    OpenFailure why;
    EXPECT_EQ(OpenComPort(pty.slavePath(), 115200, &why), nullptr);
    EXPECT_EQ(why.stage, Stage::InUse);
    first.reset();
    EXPECT_NE(OpenComPort(pty.slavePath(), 115200), nullptr);
}

TEST(SerialPort, AnotherProcessCannotOpenAPortWeHold) {
    PtyPair pty;
    PortHandle held = OpenComPort(pty.slavePath(), 115200);
    ASSERT_NE(held, nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PortHandle second = OpenComPort(pty.slavePath(), 115200);
        ::_exit(second == nullptr ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the other process opened the port too";
}

TEST(SerialPort, HoldsTheExclusiveFlagOnlyWhileOpen) {
    PtyPair pty;
    // Root gets past the flag, so look at the flag itself: if it stayed set
    // after the close, every later open by a normal user would fail.
    const int probe = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(probe, 0);
    int exclusive = -1;
    PortHandle port = OpenComPort(pty.slavePath(), 115200);
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    port.reset();
    ASSERT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(probe);
}

TEST(SerialPort, InputQueueIsEmptyAfterOpen) {
    PtyPair pty;
    const std::string stale = "stale bytes from before";
    pty.send(stale);
    ASSERT_TRUE(pty.waitUntilQueued(stale.size()));
    PortHandle port = OpenComPort(pty.slavePath(), 115200);
    ASSERT_NE(port, nullptr);
    pty.send("fresh");
    EXPECT_EQ(readCount(*port, 5), "fresh") << "nothing from before the open comes first";
}

TEST(SerialPort, SilentOneByteReadComesBackWithinAFewMilliseconds) {
    PtyPair pty;
    PortHandle port = OpenComPort(pty.slavePath(), 921600);
    ASSERT_NE(port, nullptr);
    uint8_t byte = 0;
    // Twenty reads of 2 ms each: a read rounded up to the tenth of a second
    // that line settings count in would take two seconds, a busy machine far
    // less.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        EXPECT_FALSE(port->readByte(byte, 2));
    }
    EXPECT_LT(msSince(start), 2000);
}

TEST(SerialPort, WritesAndReadsEveryByteUnchanged) {
    PtyPair pty;
    PortHandle port = OpenComPort(pty.slavePath(), 921600);
    ASSERT_NE(port, nullptr);
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    ASSERT_TRUE(writeText(*port, all));
    EXPECT_EQ(pty.receive(all.size()), all);
    pty.send(all);
    EXPECT_EQ(readCount(*port, all.size()), all);
}

TEST(SerialPort, PurgeDropsBytesAlreadyReadAhead) {
    PtyPair pty;
    PortHandle port = OpenComPort(pty.slavePath(), 921600);
    ASSERT_NE(port, nullptr);
    pty.send("abc");
    ASSERT_TRUE(pty.waitUntilQueued(3));
    uint8_t byte = 0;
    ASSERT_TRUE(port->readByte(byte, 10'000));
    EXPECT_EQ(byte, 'a');
    port->purge();
    EXPECT_FALSE(port->readByte(byte, 20));
}

TEST(SerialPort, FarEndHangingUpFailsReadsAndWritesWithoutHanging) {
    PtyPair pty;
    PortHandle port = OpenComPort(pty.slavePath(), 921600);
    ASSERT_NE(port, nullptr);
    pty.send("x");
    pty.hangUp();
    uint8_t byte = 0;
    const auto start = std::chrono::steady_clock::now();
    // A byte that was in flight may or may not survive the hang-up; after
    // that the line is silent for good, each read lasting only its wait.
    port->readByte(byte, 30);
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(port->readByte(byte, 30));
    }
    EXPECT_FALSE(writeText(*port, "*probe"));
    EXPECT_LT(msSince(start), 10'000);  // no read waits for ever
    EXPECT_GE(msSince(start), 150);     // it waited instead of spinning
}

TEST(SerialPort, MissingPortYieldsNothing) {
    OpenFailure why;
    EXPECT_EQ(OpenComPort("/dev/qor-no-such-port", 115200, &why), nullptr);
    EXPECT_EQ(why.stage, Stage::Open);
    EXPECT_EQ(why.osError, ENOENT);
}

TEST(SerialPort, NonTerminalIsRefused) {
    testing::TempDir dir;
    const auto file = dir.write("plain-file", "data");
    OpenFailure why;
    EXPECT_EQ(OpenComPort(file.string(), 115200, &why), nullptr);
    EXPECT_EQ(why.stage, Stage::Configure);
}

TEST(SerialPort, PortDirectoryPutsADeviceBehindAShortName) {
    PtyPair pty;
    testing::TempDir dir;
    std::filesystem::create_symlink(pty.slavePath(), dir / "COM10");
    OpenFailure why;
    PortHandle port = [&] {
        const testing::ScopedEnv portDir("QOR_PORT_DIR", dir.path().string());
        return OpenComPort("COM10", 230400, &why);
    }();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(why.devicePath, (dir / "COM10").string());
    ASSERT_TRUE(writeText(*port, "%QOR%"));
    EXPECT_EQ(pty.receive(5), "%QOR%");
}

}  // namespace
}  // namespace qor
