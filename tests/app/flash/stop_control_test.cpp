#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "app/flash/interrupt.h"
#include "app/flash/stop_control.h"
#include "app/flash/stoppable_line.h"
#include "base/manual_clock.h"
#include "tests/app/flash/fake_interrupt.h"
#include "tests/support/scripted_port.h"

namespace qor {
namespace {

struct StageRow {
    const char* name;
    StopStage stage;
    StopAction action;
    bool writes;  // after the interrupt
    bool reads;
};

class StopByStage : public ::testing::TestWithParam<StageRow> {
  protected:
    testing::FakeInterrupt interrupt;
    StopControl stop{interrupt};
    ManualClock clock;
    testing::ScriptedLine line{clock};
};

TEST_P(StopByStage, DecidesWhatThePortStillDoes) {
    const StageRow& row = GetParam();
    StoppablePort port(line.open(921600), stop, 0);
    stop.setStage(0, row.stage);
    EXPECT_EQ(stop.action(0), StopAction::None);

    interrupt.request();
    line.arriveAfter(0, "*echo");
    uint8_t byte = 0;
    EXPECT_EQ(port.readByte(byte, 1000), row.reads);
    EXPECT_EQ(writeText(port, "%QOR%"), row.writes);
    EXPECT_EQ(stop.action(0), row.action);
    EXPECT_EQ(stop.stopped(0), !(row.reads && row.writes));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StopByStage,
    ::testing::Values(
        StageRow{"Starting", StopStage::Starting, StopAction::CutNow, false, false},
        StageRow{"Connecting", StopStage::Connecting, StopAction::CutNow, false, false},
        // The answer to the block in hand still counts; the next block stays.
        StageRow{"Transferring", StopStage::Transferring, StopAction::AfterBlock, false, true},
        StageRow{"Finishing", StopStage::Finishing, StopAction::LetFinish, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StopControl, KeepsTheFirstDecisionWhenTheDeviceMovesOn) {
    testing::FakeInterrupt interrupt;
    StopControl stop(interrupt);
    stop.setStage(2, StopStage::Connecting);
    interrupt.request();
    EXPECT_EQ(stop.action(2), StopAction::CutNow);
    stop.setStage(2, StopStage::Transferring);
    EXPECT_EQ(stop.action(2), StopAction::CutNow);
    // The connect on the user-interface thread has a slot of its own.
    EXPECT_EQ(stop.action(-1), StopAction::CutNow);
    EXPECT_FALSE(stop.stopped(1));
}

TEST(StoppableClock, RacesAheadOnceCutShortSoEveryWaitEndsAtItsFirstLook) {
    testing::FakeInterrupt interrupt;
    StopControl stop(interrupt);
    StoppableClock clock(stop, 0);
    interrupt.request();
    const uint32_t first = clock.now_ms();
    const uint32_t second = clock.now_ms();
    EXPECT_GT(second - first, 10000u);
    clock.sleep_ms(60000);  // returns at once
}

TEST(ConsoleInterrupt, AWakeUpEndsTheWaitersCurrentOrNextWaitWithoutARequest) {
    ConsoleInterrupt interrupt("");
    const auto start = std::chrono::steady_clock::now();
    interrupt.wake();
    EXPECT_FALSE(interrupt.waitForRequestOrWake(20000)) << "a wake-up is no request";
    std::thread waker([&interrupt] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        interrupt.wake();
    });
    EXPECT_FALSE(interrupt.waitForRequestOrWake(20000));
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15))
        << "each wait should have ended at its wake-up";
}

}  // namespace
}  // namespace qor
