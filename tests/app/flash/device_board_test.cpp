#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "app/flash/device_board.h"
#include "tests/app/flash/fake_interrupt.h"
#include "text/ui_language.h"
#include "ui/resource_ids.h"
#include "update/services.h"

namespace qor {
namespace {

class RecordingSink final : public ProgressSink {
  public:
    void deviceChanged(const DeviceReport& report, bool phaseChanged) override {
        if (phaseChanged) {
            phases.push_back(std::string(phaseName(report.phase)));
        }
        last = report;
    }
    void note(const Note& note) override { notes.push_back(noteLine(note)); }
    void finished(const RunSummary& summary) override { summaries.push_back(summary); }
    bool showsProgress() const override { return progress; }

    bool progress = true;
    std::vector<std::string> phases;
    DeviceReport last;
    std::vector<std::string> notes;
    std::vector<RunSummary> summaries;
};

class Board : public ::testing::Test {
  protected:
    Board() { board.begin({{"ttyACM0"}}, 8 * 1024); }

    void transfer(int blocks) {
        board.connecting(0, 0);
        board.transferStarted(0);
        for (uint32_t kb = 1; kb <= static_cast<uint32_t>(blocks); ++kb) {
            board.blockSent(0, kb * 1024);
        }
    }

    RecordingSink sink;
    testing::FakeInterrupt interrupt;
    StopControl stop{interrupt};
    DeviceBoard board{sink, stop, kUiLanguageEnglish};
};

TEST_F(Board, FollowsASuccessfulWorkerThroughEveryPhase) {
    board.connecting(0, 0);
    board.connecting(0, 1);
    EXPECT_EQ(sink.last.unansweredWaits, 1);
    transfer(8);
    EXPECT_EQ(sink.last.sentBytes, 8192u);
    board.checking(0);
    EXPECT_EQ(stop.stage(0), StopStage::Finishing);
    board.updating(0);
    board.updateWaitMissed(0, 3);
    EXPECT_EQ(sink.last.updateWaits, 3);
    board.succeeded(0);
    board.updating(0);  // a device's last word stands

    EXPECT_EQ(sink.phases, (std::vector<std::string>{"waiting", "connecting", "transferring",
                                                     "checking", "updating", "succeeded"}));
    EXPECT_TRUE(sink.notes.empty());
}

TEST_F(Board, AWorkersBoxFailsItsDeviceForGood) {
    transfer(2);
    board.messageBox(0, "Transmit File Failed (-2)", kErrorBoxType, std::nullopt);
    board.succeeded(0);

    EXPECT_EQ(sink.phases.back(), "failed");
    EXPECT_EQ(sink.last.message, "Transmit File Failed (-2)");
    EXPECT_EQ(sink.notes,
              (std::vector<std::string>{"qor-flash: ttyACM0: Transmit File Failed (-2)\n"}));
    EXPECT_EQ(board.errorCount(), 1);
}

TEST_F(Board, AFailureThePortCausedForCtrlCSaysWhatTheImagerIsLeftWith) {
    transfer(3);
    stop.noteStopped(0);
    board.messageBox(0, "Transmit File Failed", kErrorBoxType, std::nullopt);

    EXPECT_EQ(sink.phases.back(), "interrupted");
    EXPECT_EQ(sink.last.message,
              "interrupted after 3 KB / 8 KB: the imager's firmware is incomplete; run the "
              "update again");
}

TEST_F(Board, ASinkThatShowsNoProgressGetsTheCountWithTheNextPhase) {
    sink.progress = false;
    board.begin({{"ttyACM0"}}, 8 * 1024);
    transfer(3);
    EXPECT_EQ(sink.last.sentBytes, 0u) << "no call for a block alone";
    EXPECT_EQ(board.summary(0).devices.at(0).sentBytes, 3072u);
    stop.noteStopped(0);
    board.messageBox(0, "Transmit File Failed", kErrorBoxType, std::nullopt);

    EXPECT_EQ(sink.last.sentBytes, 3072u);
    EXPECT_EQ(sink.last.message,
              "interrupted after 3 KB / 8 KB: the imager's firmware is incomplete; run the "
              "update again");
}

TEST_F(Board, AFailedOpenGetsItsReasonAndAHint) {
#ifdef _WIN32
    const int osError = 2;  // ERROR_FILE_NOT_FOUND: no such COM port
    const std::string reason = "no such device";
    const std::string hintWord = "Device Manager";
#else
    const int osError = EACCES;
    const std::string reason = "permission denied";
    const std::string hintWord = "dialout";
#endif
    OpenFailure failure;
    failure.stage = OpenFailure::Stage::Open;
    failure.osError = osError;
    board.messageBox(Services::kUiThread, "Connect To COM3 Failed", kErrorBoxType, failure);

    ASSERT_EQ(sink.notes.size(), 2u);
    EXPECT_EQ(sink.notes[0], "qor-flash: Connect To COM3 Failed: " + reason + "\n");
    EXPECT_NE(sink.notes[1].find("qor-flash: hint: "), std::string::npos);
    EXPECT_NE(sink.notes[1].find(hintWord), std::string::npos);
#ifndef _WIN32
    // The rule file the Linux package installs, by its full path.
    EXPECT_NE(sink.notes[1].find(" /usr/lib/udev/rules.d/70-qor-imager.rules "), std::string::npos);
#endif
}

TEST_F(Board, TheSuccessBoxIsInformationForTheRun) {
    board.messageBox(0, "The updates were successfully installed", kSuccessBoxType, std::nullopt);
    EXPECT_EQ(board.errorCount(), 0);
    EXPECT_EQ(sink.phases.back(), "waiting");
}

}  // namespace
}  // namespace qor
