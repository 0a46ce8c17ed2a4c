#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/update/worker_fixture.h"
#include "update/run_closing.h"
#include "update/update_worker.h"

namespace qor {
namespace {

using testing::kThreadTimeout;
using testing::ScriptedImager;
using testing::WorkerFixture;
using Reply = ScriptedImager::Reply;

// A run of several workers started as the command flow starts them, each on
// its own thread and its own virtual clock.
template <int Devices>
class RunTest : public WorkerFixture {
  protected:
    RunTest() : WorkerFixture(Devices) {
        // The command flow grew the window before starting the workers.
        Rect grown = window().rect();
        grown.bottom += 60 * Devices;
        window().moveWindow(grown, true);
        grownRect = grown;
    }

    void startRun() {
        state().SuccessCount = 0;
        ++runsStarted;
        EXPECT_EQ(startUpdateWorkers(dialog, Devices), Devices);
    }

    Rect grownRect;
};

using TwoDeviceRunTest = RunTest<2>;
using SixDeviceRunTest = RunTest<6>;

TEST_F(TwoDeviceRunTest, OneFailureWithholdsTheSuccessBoxAndTheLaterWorkerClosesTheRun) {
    imagers[1].probeWaits = {};
    window().holdMessageBoxes(true);
    startRun();

    // Device 1 sits in its box while device 0 finishes and hides its row.
    ASSERT_TRUE(window().waitForOpenBoxes(1, kThreadTimeout));
    ASSERT_TRUE(window().waitForJournal("show 10 0", kThreadTimeout));
    EXPECT_EQ(window().messageBoxes()[0].text, "Connect Failed");
    EXPECT_EQ(window().rect(), grownRect);
    EXPECT_FALSE(window().isEnabled(IDC_RADIO_USB));
    EXPECT_FALSE(window().isEnabled(IDC_RADIO_RS232));
    EXPECT_TRUE(window().isVisible(rowLabelId(1))) << "the failed row stays while its box is up";
    EXPECT_EQ(dialog.runsClosed(), 0);

    window().answerBox(0);
    ASSERT_TRUE(dialog.waitForRunsClosed(1, kThreadTimeout));

    ASSERT_EQ(window().messageBoxes().size(), 1u) << "no success box";
    EXPECT_THAT(window().journalOf("move"),
                ::testing::ElementsAre("move 0 0 335 424", "move 0 0 335 304"));
    for (int device = 0; device < 2; ++device) {
        EXPECT_FALSE(window().isVisible(progressBarId(device)));
        EXPECT_FALSE(window().isVisible(rowLabelId(device)));
    }
    EXPECT_GT(journalIndex("enable 1007 1"), journalIndex("box-closed 0x40010 Connect Failed"));
    EXPECT_TRUE(window().isEnabled(IDC_RADIO_USB));
    EXPECT_TRUE(window().isEnabled(IDC_RADIO_RS232));
    EXPECT_EQ(dialog.modeEntries().size(), 1u);
    EXPECT_EQ(state().SuccessCount.load(), 1);
    EXPECT_EQ(state().runningWorkers.load(), 0);
}

TEST_F(TwoDeviceRunTest, EachWorkerWaitsInItsOwnBoxWhileTheOtherGoesOn) {
    imagers[0].header = Reply::Nack;
    imagers[1].faultBlock = 2;
    window().holdMessageBoxes(true);
    startRun();

    ASSERT_TRUE(window().waitForOpenBoxes(2, kThreadTimeout));
    // Both boxes open at once, and the window still takes calls.
    window().setItemText(IDC_INFO, "still answering");
    EXPECT_EQ(window().text(IDC_INFO), "still answering");
    window().answerBox(1);
    window().answerBox(0);
    ASSERT_TRUE(dialog.waitForRunsClosed(1, kThreadTimeout));

    std::vector<std::string> texts;
    for (const auto& box : window().messageBoxes()) {
        texts.push_back(box.text);
    }
    EXPECT_THAT(texts,
                ::testing::UnorderedElementsAre("Invalid Firmware !", "Transmit File Failed (-2)"));
    EXPECT_EQ(window().journalOf("move").size(), 2u);
    EXPECT_EQ(dialog.modeEntries().size(), 1u);
}

TEST_F(SixDeviceRunTest, AllSucceedingGivesOneSuccessBoxAndTheWholeShrink) {
    startRun();
    ASSERT_TRUE(dialog.waitForRunsClosed(1, kThreadTimeout));

    EXPECT_EQ(state().SuccessCount.load(), 6);
    const auto boxes = window().messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].type, kSuccessBoxType);
    EXPECT_THAT(window().journalOf("move"),
                ::testing::ElementsAre("move 0 0 335 664", "move 0 0 335 304"));
    for (int device = 0; device < 6; ++device) {
        EXPECT_EQ(line(device).closes(), 1) << "device " << device;
        EXPECT_EQ(labelTexts(device).back(), "") << "device " << device;
        EXPECT_FALSE(window().isVisible(rowLabelId(device)));
    }
    EXPECT_EQ(dialog.modeEntries().size(), 1u);
}

TEST_F(SixDeviceRunTest, WorkersThatEndAtOnceStillCloseTheRunOnlyOnce) {
    // Every worker fails at its first step, as fast as a worker can end.
    state().FirmwareBytes.reset();
    startRun();
    ASSERT_TRUE(dialog.waitForRunsClosed(1, kThreadTimeout));

    EXPECT_EQ(window().messageBoxes().size(), 6u);
    EXPECT_EQ(window().journalOf("move").size(), 2u);
    EXPECT_EQ(dialog.modeEntries().size(), 1u);
    EXPECT_EQ(dialog.runsClosed(), 1);
    EXPECT_EQ(state().runningWorkers.load(), 0);
}

TEST_F(TwoDeviceRunTest, RunShortOfAWorkerThatCouldNotStartClosesWithoutSuccess) {
    // The starter got one thread and counts the other worker as ended on
    // the user-interface thread; the one that did run succeeds.
    state().runningWorkers = 2;
    state().SuccessCount = 0;
    ++runsStarted;
    std::thread worker(UpdateThreadProc, new WorkerArgs{&dialog, 0});
    window().invoke([&] { finishUpdateWorker(dialog); });
    worker.join();

    EXPECT_EQ(dialog.runsClosed(), 1);
    EXPECT_EQ(state().SuccessCount.load(), 1);
    EXPECT_TRUE(window().messageBoxes().empty()) << "no success box for a run short of a worker";
    EXPECT_TRUE(window().isEnabled(IDC_RADIO_USB));
}

}  // namespace
}  // namespace qor
