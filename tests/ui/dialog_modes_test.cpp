#include <gtest/gtest.h>

#include "tests/ui/dialog_fixture.h"
#include "ui/resource_ids.h"

namespace qor {
namespace {

class DialogModes : public testing::DialogFixture {
  protected:
    void SetUp() override { host.open(); }
    bool polling() { return window().runningTimers().count(0) == 1; }
};

TEST_F(DialogModes, UsbWithNoImagerReadsDisconnectedAfterOneTick) {
    host.click(IDC_RADIO_USB);
    EXPECT_EQ(window().control(IDC_PICTURE).picture, IDB_BARCODE);
    EXPECT_EQ(state.PictureBitmap.load(), IDB_BARCODE);
    EXPECT_EQ(window().runningTimers().at(0), 250u);
    EXPECT_EQ(window().text(IDC_UPDATE), "Browse..");
    EXPECT_FALSE(window().isEnabled(IDC_UPDATE));
    EXPECT_FALSE(window().isEnabled(IDC_COMBO_PORT));
    EXPECT_TRUE(window().isVisible(IDC_STEP1));
    EXPECT_TRUE(window().isVisible(IDC_STEP2));

    host.tick();
    EXPECT_EQ(window().text(IDC_INFO), "  Disconnected");
    EXPECT_FALSE(window().isEnabled(IDC_UPDATE));
    EXPECT_EQ(state.DeviceCount, 0);

    plugImagers(1);
    host.tick();
    EXPECT_EQ(window().text(IDC_INFO), "  1 Device Connected");
    EXPECT_TRUE(window().isEnabled(IDC_UPDATE));
    EXPECT_EQ(state.DeviceCount, 1);

    plugImagers(1);
    host.tick();
    EXPECT_EQ(window().text(IDC_INFO), "  2 Devices Connected");

    unplugAll();
    host.tick();
    EXPECT_EQ(window().text(IDC_INFO), "  Disconnected");
    EXPECT_FALSE(window().isEnabled(IDC_UPDATE));
}

TEST_F(DialogModes, UsbThenRs232StopsThePollAndArmsConnect) {
    plugImagers(2);
    host.click(IDC_RADIO_USB);
    host.tick();
    ASSERT_EQ(window().text(IDC_INFO), "  2 Devices Connected");
    host.click(IDC_RADIO_RS232);
    EXPECT_FALSE(polling());
    EXPECT_EQ(window().text(IDC_INFO), "");
    EXPECT_TRUE(window().isEnabled(IDC_COMBO_PORT));
    EXPECT_TRUE(window().isEnabled(IDC_UPDATE));
    EXPECT_EQ(window().text(IDC_UPDATE), "Connect");
    EXPECT_EQ(window().control(IDC_PICTURE).picture, IDB_LOGO);
    EXPECT_FALSE(window().isVisible(IDC_STEP1));
}

TEST_F(DialogModes, EnteringRs232ForgetsTheHighSpeedRate) {
    state.HighSpeedFlag = 1;
    host.click(IDC_RADIO_RS232);
    EXPECT_EQ(state.HighSpeedFlag, 0);
}

TEST_F(DialogModes, EnteringUsbAgainRestartsThePollOnce) {
    host.click(IDC_RADIO_USB);
    host.click(IDC_RADIO_USB);
    EXPECT_TRUE(polling());
    // Killed before each start: never two polls.
    EXPECT_EQ(window().journalOf("timer").size(), 2u);
    EXPECT_EQ(window().journalOf("kill-timer").size(), 3u);  // init's RS-232 entry too
}

}  // namespace
}  // namespace qor
