#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/scoped_env.h"
#include "tests/ui/dialog_fixture.h"
#include "ui/dialog_template.h"
#include "ui/resource_ids.h"
#include "ui/run_log_path.h"

namespace qor {
namespace {

using testing::DialogFixture;
using testing::MemoryWindow;

constexpr int kRowIds[] = {1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 14, 15};

TEST(DialogTemplate, HoldsTheMainDialogAsTheResourceLaysItOut) {
    const DialogTemplate& t = mainDialogTemplate();
    EXPECT_STREQ(t.caption, "2D Imager Vantor - V3.7");
    EXPECT_EQ(t.rect.width, 219);
    EXPECT_EQ(t.rect.height, 169);
    std::vector<int> tabOrder;
    for (const ControlTemplate& c : t.controls) {
        tabOrder.push_back(c.id);
        // Row ids belong to the device rows alone.
        EXPECT_TRUE(c.id > 15) << c.name;
    }
    EXPECT_EQ(tabOrder, (std::vector<int>{1000, 1003, 1004, 1007, 1008, 1009, 1010, 1011}));
    EXPECT_EQ(t.controls[0].rect.x, 61);
    EXPECT_EQ(t.controls[0].rect.height, 30);
    EXPECT_TRUE(t.controls[0].style & control_style::kDisabled);
    EXPECT_FALSE(t.controls[6].style & control_style::kVisible);
}

class DialogInit : public DialogFixture {};

TEST_F(DialogInit, StartsInRs232ModeWithTwentyPortsAndHiddenRows) {
    host.open();
    MemoryWindow& w = window();
    const auto combo = w.control(IDC_COMBO_PORT);
    ASSERT_EQ(combo.items.size(), 20u);
    EXPECT_EQ(combo.items.front(), "COM1");
    EXPECT_EQ(combo.items[9], "COM10");
    EXPECT_EQ(combo.items.back(), "COM20");
    EXPECT_EQ(combo.selection, 0);
    EXPECT_TRUE(combo.enabled);

    EXPECT_EQ(w.checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232), IDC_RADIO_RS232);
    EXPECT_EQ(w.text(IDC_UPDATE), "Connect");
    EXPECT_TRUE(w.isEnabled(IDC_UPDATE));
    EXPECT_EQ(w.text(IDC_INFO), "");
    EXPECT_FALSE(w.isVisible(IDC_STEP1));
    EXPECT_FALSE(w.isVisible(IDC_STEP2));
    EXPECT_EQ(w.control(IDC_PICTURE).picture, IDB_LOGO);
    EXPECT_TRUE(w.runningTimers().empty());
    for (int id : kRowIds) {
        EXPECT_FALSE(w.isVisible(id)) << "row control " << id;
        EXPECT_TRUE(w.control(id).createdAs.has_value()) << "row control " << id;
    }
    EXPECT_EQ(w.rect(), MemoryWindow::kTemplateRect);
    EXPECT_EQ(state.UiLanguage, 1033);
    EXPECT_EQ(w.text(IDC_STEP1), "Step 1:\r\rScan barcode to start update mode");
    EXPECT_EQ(w.text(IDC_STEP2), "Step 2:\r\rSelect FW file");
    EXPECT_EQ(w.journalOf("icon"), (std::vector<std::string>{"icon 128 1", "icon 128 0"}));
}

// The rows' figures are pixels at 96 dpi and grow with the display's
// scaling, as the template and the rows' font do.
class DialogRows : public DialogFixture, public ::testing::WithParamInterface<int> {};

TEST_P(DialogRows, SitBelowOneAnotherAndFitTheGrowthPerDevice) {
    const int dpi = GetParam();
    // Pixels at 96 dpi, scaled and rounded half away from zero.
    const auto px = [dpi](int at96) { return (at96 * dpi + 48) / 96; };
    host.open(dpi);
    MemoryWindow& w = window();
    const Rect frame = MemoryWindow::kTemplateRect;
    for (int k = 1; k <= 6; ++k) {
        const auto bar = w.control(k);
        const auto label = w.control(k + 9);
        EXPECT_EQ(label.text, "Device: " + std::to_string(k) + " ");
        EXPECT_TRUE(label.centred);
        EXPECT_EQ(bar.rect.left, frame.left + px(10));
        EXPECT_EQ(bar.rect.right, frame.right - px(10));
        EXPECT_EQ(bar.rect.height(), px(25));
        EXPECT_EQ(label.rect.top, bar.rect.top + px(30));
        EXPECT_EQ(label.rect.bottom, bar.rect.top + px(50));
        // A line of the rows' font is 16 pixels at 96 dpi, and grows with it.
        EXPECT_GE(label.rect.height() * 96, 16 * dpi);
        if (k == 1) {
            EXPECT_EQ(bar.rect.top, frame.bottom - px(50));
        } else {
            // No row reaches into the next one.
            EXPECT_GE(bar.rect.top, w.control(k + 8).rect.bottom);
        }
        // With k devices the window is k pitches taller, and row k still
        // fits in its client area under a caption and frame up to 30
        // pixels tall at 96 dpi.
        EXPECT_LE(label.rect.bottom + px(30), frame.bottom + px(60) * k);
    }
}

INSTANTIATE_TEST_SUITE_P(Dpi, DialogRows, ::testing::Values(96, 120, 144, 192));

class DialogInitChinese : public DialogFixture {
  protected:
    DialogInitChinese() : DialogFixture("zh_CN.UTF-8") {}
};

TEST_F(DialogInitChinese, ShowsTheChineseSet) {
#ifdef _WIN32
    // Windows takes the language from the user's settings, fixed when the
    // program starts: ctest runs this case again as a Chinese user, and says
    // so in QOR_CHINESE_USER.
    if (std::getenv("QOR_CHINESE_USER") == nullptr) {
        GTEST_SKIP() << "runs as a Chinese user only";
    }
#endif
    host.open();
    EXPECT_EQ(state.UiLanguage, 2052);
    EXPECT_EQ(window().text(IDC_UPDATE), "连线");
    EXPECT_EQ(window().text(IDC_STEP1), "更新步骤一:\r\r扫描二维码设置更新模式");
    EXPECT_EQ(window().text(IDC_STEP2), "更新步骤二:\r\r选取固件档案");
    host.click(IDC_RADIO_USB);
    EXPECT_EQ(window().text(IDC_UPDATE), "固件");
    host.tick();
    EXPECT_EQ(window().text(IDC_INFO), "离线");
    plugImagers(2);
    host.tick();
    EXPECT_EQ(window().text(IDC_INFO), "  2 个装置上线");
}

TEST_F(DialogInit, MessageMapRoutesOnlyKnownEvents) {
    host.open();
    CQorDlg& dialog = host.dialog();
    bool routed = false;
    window().invoke([&] { routed = dialog.dispatch({DialogEvent::Clicked, IDC_INFO}); });
    EXPECT_FALSE(routed);
    window().invoke([&] { routed = dialog.dispatch({DialogEvent::Clicked, IDC_RADIO_USB}); });
    EXPECT_TRUE(routed);
    EXPECT_EQ(window().text(IDC_UPDATE), "Browse..");
    EXPECT_EQ(dialog.OnQueryDragIcon(), IDR_MAINFRAME);
}

// The window's log of runs is kept in the user's state folder, as the
// platform names it.
TEST(RunLogPath, IsInTheUsersStateFolder) {
#ifdef _WIN32
    testing::ScopedEnv local{"LOCALAPPDATA", "C:\\Users\\op\\AppData\\Local"};
    EXPECT_EQ(runLogPath(), std::filesystem::path(
                                L"C:\\Users\\op\\AppData\\Local\\Qor imager updater\\runs.csv"));
#else
    testing::ScopedEnv home{"HOME", "/home/op"};
    {
        testing::ScopedEnv state{"XDG_STATE_HOME", "/var/state/op"};
        EXPECT_EQ(runLogPath(), "/var/state/op/qor-updater/runs.csv");
    }
    {
        testing::ScopedEnv state{"XDG_STATE_HOME", std::nullopt};
        EXPECT_EQ(runLogPath(), "/home/op/.local/state/qor-updater/runs.csv");
    }
    {
        // Only an absolute one counts.
        testing::ScopedEnv state{"XDG_STATE_HOME", "relative/state"};
        EXPECT_EQ(runLogPath(), "/home/op/.local/state/qor-updater/runs.csv");
    }
#endif
}

}  // namespace
}  // namespace qor
