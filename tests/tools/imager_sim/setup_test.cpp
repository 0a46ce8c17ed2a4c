#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/tools/imager_sim/sim_line.h"

namespace qor::sim {
namespace {

using testing::answerTo;
using testing::bytesOf;
using testing::kAnswerMs;

using Packet = std::array<uint8_t, 7>;
using Bytes = std::vector<uint8_t>;

// The host's side of the setup exchange, written out by hand here.
constexpr Packet kProbe = {0x05, 0x57, 0x0E, 0x0D, 0x01, 0xFF, 0x88};
constexpr Packet kFirst = {0x05, 0x57, 0xA0, 0x01, 0x00, 0xFF, 0x03};
constexpr Packet kSecond = {0x05, 0x57, 0xA1, 0x02, 0x55, 0xFE, 0xAC};
const Bytes kReply = {0x52, 0xA0, 0xEC, 0xFE, 0x74};
constexpr std::array<uint32_t, 5> kScan = {9600, 115200, 57600, 38400, 230400};

// One attempt of the host's baud scan: open at `baud`, send the probe, read
// the imager's answer.
Bytes probeAt(ImagerSimulator& imager, PlainHost& host, uint32_t baud) {
    if (!host.open(imager.portPath(), baud)) {
        ADD_FAILURE() << "cannot open " << imager.portPath() << " at " << baud;
        return {};
    }
    const std::string answer = answerTo(imager, host, kProbe);
    return Bytes(answer.begin(), answer.end());
}

// Runs the scan the way the updater does until the imager answers; returns
// the rate that got the reply, 0 for none.
uint32_t scanFor(ImagerSimulator& imager, PlainHost& host) {
    for (const uint32_t baud : kScan) {
        if (probeAt(imager, host, baud) == kReply) {
            return baud;
        }
        host.close();
    }
    return 0;
}

ImagerOptions rs232At(uint32_t baud, SetupFault fault = SetupFault::kNone) {
    ImagerOptions options;
    options.rs232_baud = baud;
    options.setup_fault = fault;
    return options;
}

void sendSetupCommands(PlainHost& host) {
    host.write(kFirst);
    host.write(kSecond);
    host.write(kFirst);
}

TEST(ImagerSimSetup, AnswersTheProbeOnlyAtItsOwnRate) {
    ImagerSimulator imager(rs232At(57600));
    ASSERT_TRUE(imager.start());
    PlainHost host;
    for (const uint32_t baud : kScan) {
        SCOPED_TRACE(baud);
        EXPECT_EQ(probeAt(imager, host, baud), baud == 57600 ? kReply : Bytes{});
        host.close();
    }
    std::vector<SetupPacket> expected;
    for (const uint32_t baud : kScan) {
        expected.push_back({kProbe, baud});
    }
    EXPECT_EQ(imager.setupPackets(), expected);
    EXPECT_EQ(imager.record().setup_answers, 1u);
}

TEST(ImagerSimSetup, SetupCommandsSwitchToTokensAtTheUpdateRate) {
    struct Case {
        uint32_t imager_baud;
        uint32_t update_baud;
        uint32_t other_baud;
    };
    for (const Case c : {Case{57600, 115200, 230400}, Case{230400, 230400, 115200},
                         Case{115200, 115200, 921600}}) {
        SCOPED_TRACE(c.imager_baud);
        ImagerSimulator imager(rs232At(c.imager_baud));
        ASSERT_TRUE(imager.start());
        PlainHost host;
        ASSERT_EQ(scanFor(imager, host), c.imager_baud);
        sendSetupCommands(host);
        ASSERT_TRUE(imager.waitFor([](const ImagerRecord& r) { return r.update_mode; }, kAnswerMs));
        host.close();

        std::vector<SetupPacket> tail(imager.setupPackets());
        ASSERT_GE(tail.size(), 4u);
        tail.erase(tail.begin(), tail.end() - 4);
        EXPECT_EQ(tail, (std::vector<SetupPacket>{{kProbe, c.imager_baud},
                                                  {kFirst, c.imager_baud},
                                                  {kSecond, c.imager_baud},
                                                  {kFirst, c.imager_baud}}));

        // Like the real imager, it hears the updater only at the update rate.
        ASSERT_TRUE(host.open(imager.portPath(), c.other_baud));
        EXPECT_EQ(answerTo(imager, host, bytesOf("%QOR%*probe")), "");
        ASSERT_TRUE(host.open(imager.portPath(), c.update_baud));
        host.write("%QOR%*probe");
        EXPECT_EQ(host.readUntil("*echo", kAnswerMs), "*echo");
    }
}

TEST(ImagerSimSetup, FaultyAnswersAreSentAsScripted) {
    struct Case {
        const char* name;
        SetupFault fault;
        Bytes answer;
    };
    const Case cases[] = {
        {"wrong last byte", SetupFault::kWrongByte, {0x52, 0xA0, 0xEC, 0xFE, 0x75}},
        {"stray byte first", SetupFault::kStrayByte, {0x00, 0x52, 0xA0, 0xEC, 0xFE, 0x74}},
        {"four bytes only", SetupFault::kTruncated, {0x52, 0xA0, 0xEC, 0xFE}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImagerSimulator imager(rs232At(38400, c.fault));
        ASSERT_TRUE(imager.start());
        PlainHost host;
        EXPECT_EQ(probeAt(imager, host, 38400), c.answer);
    }
}

TEST(ImagerSimSetup, SilentAfterReplyTakesCommandsButNeverSwitches) {
    ImagerSimulator imager(rs232At(9600, SetupFault::kSilentAfterReply));
    ASSERT_TRUE(imager.start());
    PlainHost host;
    ASSERT_EQ(probeAt(imager, host, 9600), kReply);
    sendSetupCommands(host);
    ASSERT_TRUE(imager.waitFor([](const ImagerRecord& r) { return r.setup_packets.size() == 4; },
                               kAnswerMs));
    EXPECT_FALSE(imager.record().update_mode);

    ASSERT_TRUE(host.open(imager.portPath(), 115200));
    EXPECT_EQ(answerTo(imager, host, bytesOf("%QOR%*probe")), "");
}

TEST(ImagerSimSetup, CommandsOutOfOrderDoNotSwitch) {
    ImagerSimulator imager(rs232At(9600));
    ASSERT_TRUE(imager.start());
    PlainHost host;
    ASSERT_EQ(probeAt(imager, host, 9600), kReply);
    host.write(kSecond);
    host.write(kFirst);
    host.write(kFirst);
    ASSERT_TRUE(imager.waitFor([](const ImagerRecord& r) { return r.setup_packets.size() == 4; },
                               kAnswerMs));
    EXPECT_FALSE(imager.record().update_mode);
}

TEST(ImagerSimSetup, NoiseBeforeAPacketIsSkipped) {
    ImagerSimulator imager(rs232At(9600));
    ASSERT_TRUE(imager.start());
    PlainHost host;
    ASSERT_TRUE(host.open(imager.portPath(), 9600));
    host.write(Bytes{0x00, 0x05, 0x05});
    host.write(kProbe);
    EXPECT_EQ(host.read(5, kAnswerMs), kReply);
}

TEST(ImagerSimSetup, FinishedImagerIsFoundAgainByANewScan) {
    ImagerSimulator imager(rs232At(57600));
    ASSERT_TRUE(imager.start());
    PlainHost host;
    ASSERT_EQ(scanFor(imager, host), 57600u);
    sendSetupCommands(host);
    ASSERT_TRUE(imager.waitFor([](const ImagerRecord& r) { return r.update_mode; }, kAnswerMs));
    ASSERT_EQ(scanFor(imager, host), 57600u);
    EXPECT_EQ(imager.record().setup_answers, 2u);
}

}  // namespace
}  // namespace qor::sim
