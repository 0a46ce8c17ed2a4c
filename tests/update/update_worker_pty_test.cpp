// The update workers over real pseudo-terminals, against the imager
// simulator, in real time.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/scripted_services.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_dialog.h"
#include "tests/update/worker_fixture.h"
#include "tools/imager_sim/simulator.h"
#include "tools/testkit/sample_image.h"
#include "update/update_worker.h"

namespace qor {
namespace {

using testing::kThreadTimeout;
using testing::TestDialog;

class UpdateOverPtyTest : public ::testing::Test {
  protected:
    UpdateOverPtyTest() { services.useRealTimeAndPorts(); }
    ~UpdateOverPtyTest() override {
        dialog.memoryWindow().releaseAllBoxes();
        dialog.waitForRunsClosed(runsStarted, kThreadTimeout);
    }

    // Starts one simulated imager per options entry and a run over all of
    // them in USB mode, and waits for the run to close.
    void runImagers(const std::vector<sim::ImagerOptions>& options) {
        for (const sim::ImagerOptions& option : options) {
            imagers.push_back(std::make_unique<sim::ImagerSimulator>(option));
            ASSERT_TRUE(imagers.back()->start()) << "pty: " << imagers.back()->error();
        }
        image = sim::sampleImage(64 * 1024);
        AppState& state = dialog.state();
        state.FirmwarePath = dir.write("image.bin", image).string();
        state.FirmwareBytes = std::make_shared<const std::vector<uint8_t>>(image);
        dialog.selectMode(IDC_RADIO_USB);
        state.DeviceCount = static_cast<uint8_t>(imagers.size());
        for (std::size_t i = 0; i < imagers.size(); ++i) {
            // A full device path stands for a port name on POSIX.
            state.PortNameTable[i] = imagers[i]->portPath();
        }
        state.SuccessCount = 0;
        ++runsStarted;
        ASSERT_EQ(startUpdateWorkers(dialog, state.DeviceCount), state.DeviceCount);
        ASSERT_TRUE(dialog.waitForRunsClosed(runsStarted, kThreadTimeout));
    }

    std::vector<std::string> boxTexts() {
        std::vector<std::string> texts;
        for (const auto& box : dialog.memoryWindow().messageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }

    // The real clock and the real port opener; the registry is never asked.
    testing::ScriptedServices services;
    TestDialog dialog{&services};
    testing::TempDir dir;
    std::vector<uint8_t> image;
    std::vector<std::unique_ptr<sim::ImagerSimulator>> imagers;
    int runsStarted = 0;
};

TEST_F(UpdateOverPtyTest, OneImagerReceivesExactlyTheExchangeAndTheImage) {
    runImagers({sim::ImagerOptions{}});

    EXPECT_EQ(imagers[0]->received(), sim::expectedWire(image));
    EXPECT_THAT(boxTexts(), ::testing::ElementsAre("The updates were successfully installed"));
    EXPECT_EQ(dialog.state().SuccessCount.load(), 1);
}

TEST_F(UpdateOverPtyTest, SixImagersAtOnceEachReceiveTheirOwnWholeImage) {
    runImagers(std::vector<sim::ImagerOptions>(6));

    for (std::size_t i = 0; i < imagers.size(); ++i) {
        EXPECT_EQ(imagers[i]->received(), sim::expectedWire(image)) << "imager " << i;
    }
    EXPECT_THAT(boxTexts(), ::testing::ElementsAre("The updates were successfully installed"));
    EXPECT_EQ(dialog.state().SuccessCount.load(), 6);
}

TEST_F(UpdateOverPtyTest, ImagerHangingUpMidTransferEndsOnlyItsWorkerAndTheRunStillCloses) {
    sim::ImagerOptions hangsUp;
    hangsUp.block_fault = sim::BlockFault::kHangUp;
    hangsUp.fault_block = 5;
    runImagers({sim::ImagerOptions{}, hangsUp});

    EXPECT_EQ(imagers[0]->received(), sim::expectedWire(image));
    EXPECT_TRUE(imagers[1]->record().hung_up);
    // Block 5 went out and was never answered.
    EXPECT_THAT(boxTexts(), ::testing::ElementsAre("Transmit File Failed (0)"));
    EXPECT_EQ(dialog.state().SuccessCount.load(), 1);
    EXPECT_EQ(dialog.memoryWindow().journalOf("move").size(), 1u);
    EXPECT_TRUE(dialog.memoryWindow().isEnabled(IDC_RADIO_USB));
}

}  // namespace
}  // namespace qor
