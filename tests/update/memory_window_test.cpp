#include "tests/support/memory_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ui/resource_ids.h"

namespace qor {
namespace {

using testing::MemoryWindow;
constexpr std::chrono::seconds kTimeout{20};

TEST(MemoryWindow, CallsFromOtherThreadsRunOnTheWindowsThread) {
    MemoryWindow window;
    std::thread::id ranOn;
    std::thread caller([&] { window.invoke([&] { ranOn = std::this_thread::get_id(); }); });
    caller.join();
    bool inside = false;
    window.invoke([&] { inside = window.isUiThread(); });
    EXPECT_TRUE(inside);
    EXPECT_NE(ranOn, std::thread::id());
    EXPECT_FALSE(window.isUiThread());
}

TEST(MemoryWindow, BoxOnTheWindowsThreadKeepsServingOtherThreads) {
    MemoryWindow window;
    window.holdMessageBoxes(true);
    window.post([&] { window.messageBox("modal", "", kErrorBoxType); });
    ASSERT_TRUE(window.waitForOpenBoxes(1, kTimeout));

    std::thread worker([&] { window.setItemText(IDC_INFO, "from a worker"); });
    worker.join();
    EXPECT_EQ(window.text(IDC_INFO), "from a worker");

    EXPECT_TRUE(window.answerBox(0));
    ASSERT_TRUE(window.waitForJournal("box-closed 0x40010 modal", kTimeout));
    EXPECT_TRUE(window.messageBoxes()[0].fromUiThread);
    EXPECT_FALSE(window.answerBox(0)) << "a box is answered once";
}

TEST(MemoryWindow, WorkersBoxesBlockOnlyThemselves) {
    MemoryWindow window;
    window.holdMessageBoxes(true);
    int answers[2] = {};
    std::thread first([&] { answers[0] = window.messageBox("first", "", kErrorBoxType); });
    std::thread second([&] { answers[1] = window.messageBox("second", "", kErrorBoxType); });
    ASSERT_TRUE(window.waitForOpenBoxes(2, kTimeout));
    EXPECT_EQ(window.openBoxCount(), 2u);

    window.releaseAllBoxes();
    first.join();
    second.join();
    EXPECT_EQ(answers[0], MemoryWindow::kIdOk);
    EXPECT_EQ(answers[1], MemoryWindow::kIdOk);
    EXPECT_EQ(window.openBoxCount(), 0u);
}

TEST(MemoryWindow, RecordsWhatTheUserWouldSee) {
    MemoryWindow window;
    EXPECT_EQ(window.windowRect(), MemoryWindow::kTemplateRect);
    window.createControl(
        {ControlSpec::Kind::Label, rowLabelId(0), {10, 254, 325, 274}, "Device: 1 ", true});
    EXPECT_FALSE(window.isVisible(rowLabelId(0))) << "rows are made hidden";
    EXPECT_EQ(window.text(rowLabelId(0)), "Device: 1 ");

    window.addComboString(IDC_COMBO_PORT, "COM1");
    window.setComboSelection(IDC_COMBO_PORT, 0);
    EXPECT_EQ(window.comboSelection(IDC_COMBO_PORT), 0);
    window.setComboSelection(IDC_COMBO_PORT, 5);
    EXPECT_EQ(window.comboSelection(IDC_COMBO_PORT), -1) << "past the list clears the selection";

    EXPECT_EQ(window.checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232), 0);
    window.checkRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232, IDC_RADIO_USB);
    window.checkRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232, IDC_RADIO_RS232);
    EXPECT_EQ(window.checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232), IDC_RADIO_RS232);

    window.setProgressRange(progressBarId(0), 0, 256);
    window.setProgressPos(progressBarId(0), 3);
    EXPECT_EQ(window.control(progressBarId(0)).rangeMax, 256);
    EXPECT_EQ(window.control(progressBarId(0)).position, 3);
    EXPECT_THAT(window.journalOf("range"), ::testing::ElementsAre("range 1 0 256"));
}

}  // namespace
}  // namespace qor
