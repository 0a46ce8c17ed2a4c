#include "update/setup_handshake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/memory_window.h"
#include "tests/support/scripted_services.h"
#include "ui/device_rows_view.h"
#include "update/setup_command.h"

namespace qor {
namespace {

using testing::ScriptedLine;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out += static_cast<char>(v);
    }
    return out;
}

const std::string kProbe = bytes({0x05, 0x57, 0x0E, 0x0D, 0x01, 0xFF, 0x88});
const std::string kFirstSetup = bytes({0x05, 0x57, 0xA0, 0x01, 0x00, 0xFF, 0x03});
const std::string kSecondSetup = bytes({0x05, 0x57, 0xA1, 0x02, 0x55, 0xFE, 0xAC});
const std::string kReply = bytes({0x52, 0xA0, 0xEC, 0xFE, 0x74});

TEST(SetupCommand, BytesOnTheWire) {
    auto wire = [](SetupParams p) {
        const SetupCommand c = buildSetupCommand(p);
        return std::string(c.begin(), c.end());
    };
    EXPECT_EQ(wire(SetupProbeCommand), kProbe);
    EXPECT_EQ(wire(kUpdateModeCommands[0]), kFirstSetup);
    EXPECT_EQ(wire(kUpdateModeCommands[1]), kSecondSetup);
    EXPECT_EQ(wire(kUpdateModeCommands[2]), kFirstSetup);
    // The checksum wraps: a sum above 0xFFFF still brings the total to zero.
    const SetupCommand big = buildSetupCommand({0xFF, 0xFF, 0xFF});
    unsigned sum = 0;
    for (int i = 0; i < 5; ++i) {
        sum += big[i];
    }
    EXPECT_EQ((sum + (big[5] << 8 | big[6])) % 0x10000, 0u);
}

// An imager listening at one rate that answers the probe only at that rate.
struct Rs232Imager {
    uint32_t baud = 57600;
    std::string reply = kReply;
    uint32_t replyDelayMs = 5;
    uint32_t gapMs = 0;  // between reply bytes, when trickling

    void attach(ScriptedLine& line) {
        line.setResponder([this](ScriptedLine& l, std::span<const uint8_t> data) {
            if (std::string(data.begin(), data.end()) != kProbe || l.baud() != baud) {
                return;
            }
            if (gapMs == 0) {
                l.arriveAfter(replyDelayMs, reply);
            } else {
                l.trickle(gapMs, reply);
            }
        });
    }
};

class SetupHandshakeTest : public ::testing::Test, public UpdateDialog {
  protected:
    SetupHandshakeTest() { m_state.UiLanguage = 1033; }

    DeviceObserver& deviceEvents() override { return m_rows; }
    bool usbModeSelected() override { return false; }
    AppState& state() override { return m_state; }
    Services& services() override { return m_services; }
    void enterSelectedMode() override {}
    void runClosed() override {}
    std::string selectedComPort() override { return "COM3"; }

    ScriptedLine& line() { return m_services.line("COM3", Services::kUiThread); }
    ManualClock& clock() { return m_services.manualClock(Services::kUiThread); }

    // Writes on the line as (time since start, rate, bytes).
    struct Seen {
        uint32_t at;
        uint32_t baud;
        std::string bytes;
        bool operator==(const Seen&) const = default;
    };
    std::vector<Seen> seen(uint32_t start) {
        std::vector<Seen> out;
        for (const auto& w : line().writes()) {
            out.push_back({w.at_ms - start, w.baud, std::string(w.bytes.begin(), w.bytes.end())});
        }
        return out;
    }

    // The message boxes shown, as "box <type> <text>".
    std::vector<std::string> boxes() const { return m_window.journalOf("box "); }
    bool untitledBoxes() const {
        for (const auto& box : m_window.messageBoxes()) {
            if (!box.title.empty()) {
                return false;
            }
        }
        return true;
    }

    testing::MemoryWindow m_window;
    AppState m_state;
    testing::ScriptedServices m_services;
    DeviceRowsView m_rows{m_window, m_state};
};

TEST_F(SetupHandshakeTest, FindsTheImagerAtTheThirdRateAfterTwoSilentAttempts) {
    Rs232Imager imager{.baud = 57600};
    imager.attach(line());
    m_state.HighSpeedFlag = 1;  // left as it was: only RS-232 mode entry clears it
    const uint32_t start = clock().now_ms();

    EXPECT_TRUE(RunSetupHandshake(*this, "COM3"));
    EXPECT_TRUE(boxes().empty());

    EXPECT_EQ(seen(start), (std::vector<Seen>{
                               {0, 9600, kProbe},
                               {500, 115200, kProbe},
                               {1000, 57600, kProbe},
                               {1005, 57600, kFirstSetup},
                               {1105, 57600, kSecondSetup},
                               {1205, 57600, kFirstSetup},
                           }));
    EXPECT_EQ(clock().now_ms() - start, 1205u) << "no pause after the third command";
    EXPECT_EQ(m_state.HighSpeedFlag, 1);
    EXPECT_EQ(line().purges(), 3);
    EXPECT_EQ(line().closes(), 3);
    EXPECT_FALSE(line().isOpen());
}

TEST_F(SetupHandshakeTest, AnswerAtTheFastestRateSetsTheHighSpeedFlag) {
    Rs232Imager imager{.baud = 230400};
    imager.attach(line());
    EXPECT_TRUE(RunSetupHandshake(*this, "COM3"));
    EXPECT_EQ(line().openedBauds(), (std::vector<uint32_t>{9600, 115200, 57600, 38400, 230400}));
    EXPECT_EQ(m_state.HighSpeedFlag, 1);
}

TEST_F(SetupHandshakeTest, AnswerBelowTheFastestRateLeavesTheFlagClear) {
    Rs232Imager imager{.baud = 9600};
    imager.attach(line());
    EXPECT_TRUE(RunSetupHandshake(*this, "COM3"));
    EXPECT_EQ(line().openedBauds(), (std::vector<uint32_t>{9600}));
    EXPECT_EQ(m_state.HighSpeedFlag, 0);
}

struct WrongAnswer {
    const char* name;
    std::string reply;
};

class SetupHandshakeWrongAnswer : public SetupHandshakeTest,
                                  public ::testing::WithParamInterface<WrongAnswer> {};

TEST_P(SetupHandshakeWrongAnswer, CountsAsNoAnswerAtEveryRate) {
    Rs232Imager imager{.baud = 115200, .reply = GetParam().reply};
    imager.attach(line());
    EXPECT_FALSE(RunSetupHandshake(*this, "COM3"));
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(line().openedBauds().size(), 5u);
    EXPECT_EQ(line().closes(), 5);
    // Only probes went out: no setup command follows a wrong answer.
    for (const auto& w : seen(0)) {
        EXPECT_EQ(w.bytes, kProbe);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, SetupHandshakeWrongAnswer,
    ::testing::Values(WrongAnswer{"LastByteOff", bytes({0x52, 0xA0, 0xEC, 0xFE, 0x75})},
                      WrongAnswer{"FirstByteOff", bytes({0x53, 0xA0, 0xEC, 0xFE, 0x74})},
                      WrongAnswer{"StrayByteFirst", std::string(1, '\0') + kReply},
                      WrongAnswer{"FourBytesOnly", kReply.substr(0, 4)}),
    [](const auto& info) { return info.param.name; });

TEST_F(SetupHandshakeTest, FourBytesThenSilenceFailsHalfASecondAfterTheFourth) {
    Rs232Imager imager{.baud = 9600, .reply = kReply.substr(0, 4), .gapMs = 100};
    imager.attach(line());
    const uint32_t start = clock().now_ms();
    EXPECT_FALSE(RunSetupHandshake(*this, "COM3"));
    // Fourth byte at 400 ms, next rate's probe 500 ms later.
    ASSERT_GE(line().writes().size(), 2u);
    EXPECT_EQ(line().writes()[1].at_ms - start, 900u);
}

TEST_F(SetupHandshakeTest, AReplyThatKeepsTricklingIsWaitedFor) {
    Rs232Imager imager{.baud = 9600, .gapMs = 450};
    imager.attach(line());
    const uint32_t start = clock().now_ms();
    EXPECT_TRUE(RunSetupHandshake(*this, "COM3"));
    EXPECT_EQ(line().writes()[1].at_ms - start, 5u * 450u);
    EXPECT_EQ(line().writes()[1].bytes,
              std::vector<uint8_t>(kFirstSetup.begin(), kFirstSetup.end()));
}

TEST_F(SetupHandshakeTest, BytesLeftFromBeforeTheProbeAreNotTakenForTheAnswer) {
    Rs232Imager imager{.baud = 57600};
    imager.attach(line());
    // A reply that was already waiting in the port when it was opened.
    line().arriveAt(clock().now_ms(), kReply);
    EXPECT_TRUE(RunSetupHandshake(*this, "COM3"));
    EXPECT_EQ(line().openedBauds().back(), 57600u);
}

TEST_F(SetupHandshakeTest, SetupCommandsGoOutEvenIfTheImagerFallsSilent) {
    // The imager answers the probe, then sends something nobody reads and
    // ignores everything else.
    line().setResponder([](ScriptedLine& l, std::span<const uint8_t> d) {
        if (std::string(d.begin(), d.end()) == kProbe && l.baud() == 38400) {
            l.arriveAfter(5, kReply + "garbage");
        }
    });
    EXPECT_TRUE(RunSetupHandshake(*this, "COM3"));
    const auto writes = seen(0);
    ASSERT_EQ(writes.size(), 4u + 3u);
    EXPECT_EQ(writes[4].bytes, kFirstSetup);
    EXPECT_EQ(writes[5].bytes, kSecondSetup);
    EXPECT_EQ(writes[6].bytes, kFirstSetup);
}

TEST_F(SetupHandshakeTest, MissingPortShowsOneMessageAndTriesNoOtherRate) {
    const uint32_t start = clock().now_ms();
    EXPECT_FALSE(RunSetupHandshake(*this, "COM7"));
    EXPECT_EQ(boxes(), (std::vector<std::string>{"box 0x40010 Connect To COM7 Failed"}));
    EXPECT_TRUE(untitledBoxes());
    EXPECT_EQ(clock().now_ms(), start);
}

TEST_F(SetupHandshakeTest, MissingPortMessageInChinese) {
    m_state.UiLanguage = 2052;
    EXPECT_FALSE(RunSetupHandshake(*this, "COM7"));
    EXPECT_EQ(boxes(), (std::vector<std::string>{"box 0x40010 COM7 开启失败"}));
    EXPECT_TRUE(untitledBoxes());
}

TEST_F(SetupHandshakeTest, PortRefusedAtALaterRateStopsTheScan) {
    line().setResponder([](ScriptedLine& l, std::span<const uint8_t>) {
        if (l.baud() == 115200) {
            l.setRefuseOpen(true);  // e.g. the adapter was pulled out
        }
    });
    EXPECT_FALSE(RunSetupHandshake(*this, "COM3"));
    ASSERT_EQ(m_window.messageBoxes().size(), 1u);
    EXPECT_EQ(m_window.messageBoxes()[0].text, "Connect To COM3 Failed");
    EXPECT_EQ(line().openedBauds(), (std::vector<uint32_t>{9600, 115200}));
}

}  // namespace
}  // namespace qor
