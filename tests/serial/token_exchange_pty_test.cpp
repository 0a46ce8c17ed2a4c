// The serial link against the simulated imager over a real pseudo-terminal:
// the port opened by OpenComPort, replies read by WaitForToken in real time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/clock.h"
#include "serial/serial_port.h"
#include "serial/wait_for_token.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/sample_image.h"

namespace qor {
namespace {

bool send(SerialPort& port, const std::vector<uint8_t>& bytes) {
    return port.write(bytes);
}

// Element by element: GCC 12 mistakes range inserts of this shape for
// overreads at -O2.
void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
    for (uint8_t byte : bytes) {
        to.push_back(byte);
    }
}

TEST(TokenExchangeOverPty, AWholeExchangeReachesTheImagerByteForByte) {
    sim::ImagerOptions options;
    // Bytes that are not token characters around every reply are skipped.
    options.noise_before = "\x01-";
    options.noise_after = "\n";
    sim::ImagerSimulator imager(options);
    ASSERT_TRUE(imager.start());
    PortHandle port = OpenComPort(imager.portPath(), 921600);
    ASSERT_NE(port, nullptr);
    SteadyClock clock;

    const std::vector<uint8_t> image = sim::sampleImage(2048);
    const std::vector<uint8_t> header = sim::headerFor(image);

    ASSERT_TRUE(writeText(*port, "%QOR%"));
    clock.sleep_ms(250);
    ASSERT_TRUE(writeText(*port, "*probe"));
    EXPECT_EQ(WaitForToken("*echo", *port, clock), kTokenSeen);
    ASSERT_TRUE(send(*port, header));
    // The noise behind the previous answer is read first by this wait.
    EXPECT_EQ(WaitForToken("*echo", *port, clock), kTokenSeen);
    for (size_t block = 0; block < 2; ++block) {
        ASSERT_TRUE(
            send(*port, {image.begin() + block * 1024, image.begin() + (block + 1) * 1024}));
        EXPECT_EQ(WaitForToken("*echo", *port, clock), kTokenSeen) << "block " << block;
    }
    EXPECT_EQ(WaitForToken("*ack", *port, clock), kTokenSeen);
    EXPECT_EQ(WaitForToken("*update", *port, clock), kTokenSeen);
    EXPECT_EQ(WaitForToken("*ack", *port, clock), kTokenSeen);

    std::vector<uint8_t> expected{'%', 'Q', 'O', 'R', '%', '*', 'p', 'r', 'o', 'b', 'e'};
    append(expected, header);
    append(expected, image);
    EXPECT_EQ(imager.received(), expected);
    EXPECT_TRUE(imager.record().run.completed);
}

TEST(TokenExchangeOverPty, ARefusalEndsTheWaitAtOnce) {
    sim::ImagerOptions options;
    options.probe_reply = sim::Reply::kNack;
    sim::ImagerSimulator imager(options);
    ASSERT_TRUE(imager.start());
    PortHandle port = OpenComPort(imager.portPath(), 921600);
    ASSERT_NE(port, nullptr);
    SteadyClock clock;
    ASSERT_TRUE(writeText(*port, "%QOR%*probe"));
    const uint32_t start = clock.now_ms();
    EXPECT_EQ(WaitForToken("*echo", *port, clock), kTokenNack);
    // Well inside the wait's bound; the millisecond account of ending at
    // once is the virtual-time tests' job, which no busy machine can upset.
    EXPECT_LT(clock.now_ms() - start, kMaxWaitMs / 2);
}

TEST(TokenExchangeOverPty, AnImagerThatHangsUpGivesSilenceNotAHang) {
    sim::ImagerOptions options;
    options.block_fault = sim::BlockFault::kHangUp;
    options.fault_block = 0;
    sim::ImagerSimulator imager(options);
    ASSERT_TRUE(imager.start());
    PortHandle port = OpenComPort(imager.portPath(), 921600);
    ASSERT_NE(port, nullptr);
    SteadyClock clock;
    ASSERT_TRUE(writeText(*port, "%QOR%*probe"));
    ASSERT_EQ(WaitForToken("*echo", *port, clock), kTokenSeen);
    const std::vector<uint8_t> header = sim::headerFor(sim::sampleImage(1024));
    ASSERT_TRUE(send(*port, header));
    ASSERT_EQ(WaitForToken("*echo", *port, clock), kTokenSeen);
    ASSERT_TRUE(send(*port, std::vector<uint8_t>(1024, 0x11)));
    const uint32_t start = clock.now_ms();
    EXPECT_EQ(WaitForToken("*echo", *port, clock), kTokenSilence);
    const uint32_t took = clock.now_ms() - start;
    EXPECT_GE(took, 1000u);
    EXPECT_LT(took, 3000u);
    EXPECT_FALSE(send(*port, std::vector<uint8_t>(1024, 0x22)));
}

}  // namespace
}  // namespace qor
