#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/csv_records.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/dialog_fixture.h"
#include "tools/testkit/sample_image.h"
#include "ui/resource_ids.h"

namespace qor {
namespace {

using testing::MemoryWindow;
using testing::ScriptedLine;

constexpr auto kTimeout = std::chrono::seconds(30);
const std::u16string kList = u"SYSTEM\\CurrentControlSet\\Services\\usbser\\Enum";

class UpdateCommandFlow : public testing::DialogFixture {
  protected:
    void SetUp() override { host.open(); }

    std::string file(std::string_view name, const std::vector<uint8_t>& bytes) {
        return dir.write(name, bytes).string();
    }
    std::vector<std::string> boxTexts() {
        std::vector<std::string> texts;
        for (const auto& box : window().messageBoxes()) {
            texts.push_back(box.text);
        }
        return texts;
    }
    bool polling() { return window().runningTimers().count(0) == 1; }

    // USB mode with `count` imagers counted by one poll tick.
    void usbWith(int count) {
        plugImagers(count);
        host.click(IDC_RADIO_USB);
        host.tick();
    }

    // Clicks on the main button and a radio button that wait in the queue
    // while the USB port check holds the user-interface thread, then `after`.
    void queueClicksDuringThePortCheck(std::function<void()> after = {}) {
        services.fakeRegistry().onRead(
            [this, after, queued = false](std::u16string_view path, uint32_t) mutable {
                if (path != kList && !queued) {
                    queued = true;
                    host.clickLater(IDC_UPDATE);
                    host.clickLater(IDC_RADIO_RS232);
                    host.clickLater(IDC_UPDATE);
                    if (after) {
                        window().post(after);
                    }
                }
            });
    }
    int checkedMode() { return window().checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232); }

    testing::TempDir dir;
};

TEST_F(UpdateCommandFlow, Rs232WithNoImagerAnsweringGivesTheControlsBackSilently) {
    services.line("COM1", Services::kUiThread);  // a port, but nothing answers
    const uint32_t start = uiClock().now_ms();
    host.click(IDC_UPDATE);
    EXPECT_EQ(uiClock().now_ms() - start, 5u * 500u);
    EXPECT_TRUE(window().messageBoxes().empty());
    EXPECT_EQ(window().text(IDC_UPDATE), "Connect");
    for (int id : {IDC_UPDATE, IDC_COMBO_PORT, IDC_RADIO_USB, IDC_RADIO_RS232}) {
        EXPECT_TRUE(window().isEnabled(id)) << id;
    }
    // Disabled and enabled again in the same order.
    const auto enables = window().journalOf("enable 10");
    const std::vector<std::string> tail(enables.end() - 8, enables.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"enable 1000 0", "enable 1009 0", "enable 1007 0",
                                              "enable 1008 0", "enable 1000 1", "enable 1009 1",
                                              "enable 1007 1", "enable 1008 1"}));
    EXPECT_TRUE(window().openFileRequests().empty());
}

TEST_F(UpdateCommandFlow, Rs232PortThatCannotBeOpenedIsNamedInOneBox) {
    window().invoke([&] { window().setComboSelection(IDC_COMBO_PORT, 6); });
    host.click(IDC_UPDATE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Connect To COM7 Failed"}));
    EXPECT_EQ(window().messageBoxes()[0].type, 0x40010u);
    EXPECT_EQ(window().text(IDC_UPDATE), "Connect");
    EXPECT_TRUE(window().isEnabled(IDC_RADIO_USB));
}

// An RS-232 imager on COM1 that answers the setup probe at 9600 baud.
void answerSetup(ScriptedLine& line) {
    const std::string probe{
        0x05, 0x57, 0x0E, 0x0D, 0x01, static_cast<char>(0xFF), static_cast<char>(0x88)};
    line.setResponder([probe](ScriptedLine& l, std::span<const uint8_t> data) {
        if (std::string(data.begin(), data.end()) == probe) {
            l.arriveAfter(3, "\x52\xA0\xEC\xFE\x74");
        }
    });
}

TEST_F(UpdateCommandFlow, ConnectedThenCancelledReturnsToAUsableRs232Mode) {
    answerSetup(services.line("COM1", Services::kUiThread));
    window().setOpenFileAnswer(std::nullopt);
    host.click(IDC_UPDATE);
    ASSERT_EQ(window().openFileRequests().size(), 1u);
    for (int id : {IDC_UPDATE, IDC_COMBO_PORT, IDC_RADIO_USB, IDC_RADIO_RS232}) {
        EXPECT_TRUE(window().isEnabled(id)) << id;
    }
    EXPECT_EQ(window().text(IDC_UPDATE), "Connect");
    EXPECT_EQ(window().checkedRadioButton(IDC_RADIO_USB, IDC_RADIO_RS232), IDC_RADIO_RS232);

    // Every click connects again before it asks for the file.
    host.click(IDC_UPDATE);
    EXPECT_EQ(services.line("COM1", Services::kUiThread).openedBauds().size(), 2u);
    EXPECT_EQ(window().openFileRequests().size(), 2u);
}

TEST_F(UpdateCommandFlow, ConnectedThenRefusedFileAlsoReturnsToRs232Mode) {
    answerSetup(services.line("COM1", Services::kUiThread));
    window().setOpenFileAnswer(file("short.bin", {0x45, 0x01, 0x69}));
    host.click(IDC_UPDATE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Invalid File !"}));
    EXPECT_TRUE(window().isEnabled(IDC_RADIO_USB));
    EXPECT_TRUE(window().isEnabled(IDC_UPDATE));
}

TEST_F(UpdateCommandFlow, UsbCancelChangesNothingAndThePollGoesOn) {
    usbWith(1);
    window().setOpenFileAnswer(std::nullopt);
    host.click(IDC_UPDATE);
    EXPECT_EQ(window().text(IDC_UPDATE), "Browse..");
    EXPECT_TRUE(polling());
    EXPECT_TRUE(window().messageBoxes().empty());
    EXPECT_EQ(window().rect(), MemoryWindow::kTemplateRect);
}

TEST_F(UpdateCommandFlow, FileDialogIsAskedAsTheFlowNeedsAndStartsFromTheLastChoice) {
    usbWith(1);
    const std::string first = file("first.bin", {0x00});
    window().setOpenFileAnswer(first);
    host.click(IDC_UPDATE);
    window().setOpenFileAnswer(std::nullopt);
    host.click(IDC_UPDATE);
    const auto requests = window().openFileRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].initialPath, "");
    EXPECT_EQ(requests[1].initialPath, first);
    EXPECT_EQ(requests[0].filterName, "FW File ");
    EXPECT_EQ(requests[0].filterSpec, "*.*");
    EXPECT_EQ(requests[0].flags, 0x080Au);
    EXPECT_EQ(requests[0].maxPathLength, 260);
    // A cancelled dialog leaves the path as it was.
    EXPECT_EQ(state.FirmwarePath, first);
}

TEST_F(UpdateCommandFlow, NameOfAFileThatDoesNotExistEndsSilently) {
    usbWith(1);
    window().setOpenFileAnswer((dir / "typed-name.bin").string());
    host.click(IDC_UPDATE);
    EXPECT_TRUE(window().messageBoxes().empty());
    EXPECT_TRUE(polling());
}

TEST_F(UpdateCommandFlow, FilesNoImagerCanTakeAreRefusedBeforeThePortCheck) {
    usbWith(1);
    // Three bytes are no header. 5000 bytes are four blocks and a tail no
    // imager can take. 4 GiB and more would have the header's 32-bit length
    // announce only the last 256 KiB; the file is sparse and takes no disk.
    std::vector<std::string> refusedFiles = {file("three.bin", {0x45, 0x01, 0x69}),
                                             file("tail.bin", sim::sampleImage(5000))};
#ifndef __EMSCRIPTEN__  // node's files under emscripten end before 4 GiB
    refusedFiles.push_back(file("big.bin", sim::sampleImage(1024)));
    std::filesystem::resize_file(refusedFiles.back(), (uint64_t{1} << 32) + 256 * 1024);
#endif
    for (const std::string& refused : refusedFiles) {
        SCOPED_TRACE(refused);
        window().setOpenFileAnswer(refused);
        const int before = services.fakeRegistry().timesOpened(kList);
        const std::size_t boxes = window().messageBoxes().size();
        host.click(IDC_UPDATE);
        ASSERT_EQ(window().messageBoxes().size(), boxes + 1);
        EXPECT_EQ(window().messageBoxes().back().text, "Invalid File !");
        EXPECT_EQ(services.fakeRegistry().timesOpened(kList), before);
        EXPECT_TRUE(polling());
    }
    EXPECT_TRUE(host.close()) << "no run was opened";
}

// A whole image whose second header word is zero.
std::vector<uint8_t> zeroWordImage() {
    std::vector<uint8_t> image = sim::sampleImage(1024);
    std::fill_n(image.begin() + 8, 4, 0);
    return image;
}

TEST_F(UpdateCommandFlow, ZeroHeaderWordIsRefusedOnlyAfterThePortCheckPassed) {
    usbWith(1);
    window().setOpenFileAnswer(file("zero.bin", zeroWordImage()));
    const int before = services.fakeRegistry().timesOpened(kList);
    host.click(IDC_UPDATE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Invalid File !"}));
    EXPECT_EQ(services.fakeRegistry().timesOpened(kList), before + 1);
    EXPECT_TRUE(polling());
}

TEST_F(UpdateCommandFlow, PortsNotFoundWinsOverZeroHeaderWordsAfterOneSecond) {
    usbWith(2);
    // The poll counted two, but one has lost its parameters key since.
    services.fakeRegistry().removeKey(
        u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7B&PID_0E52\\7&2A1F&0&1\\Device "
        u"Parameters");
    window().setOpenFileAnswer(file("zero.bin", zeroWordImage()));
    const uint32_t start = uiClock().now_ms();
    host.click(IDC_UPDATE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"COM Port Error !"}));
    EXPECT_EQ(uiClock().now_ms() - start, 1000u);
    EXPECT_EQ(uiClock().sleeps(), 4u);
}

TEST_F(UpdateCommandFlow, ImagerWhosePortNameCannotBeReadIsNeverGivenAnOldOne) {
    // An earlier run's name is still in the table; the imager listed now
    // has no name that is a port.
    state.PortNameTable[0] = "COM3";
    plugImager("7&2A1F&0&9", "LPT1");
    host.click(IDC_RADIO_USB);
    host.tick();
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    host.click(IDC_UPDATE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"COM Port Error !"}));
    EXPECT_EQ(uiClock().sleeps(), 4u) << "retried as for any failed collection";
    EXPECT_TRUE(host.close()) << "no run was opened";
    EXPECT_EQ(state.PortNameTable[0], "");
}

TEST_F(UpdateCommandFlow, SevenImagersAreTooManyBeforeTheFileIsOpened) {
    testing::setEnv("LANGUAGE", "zh_CN");
    host.click(IDC_RADIO_RS232);  // nothing to do with it: keep the language
    state.UiLanguage = 2052;
    usbWith(7);
    // A file that does not exist: had it been opened first, the click would
    // have ended silently.
    window().setOpenFileAnswer((dir / "missing.bin").string());
    host.click(IDC_UPDATE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Too Many COM Ports !"}));
    EXPECT_EQ(window().text(IDC_INFO), "  7 个装置上线");
}

TEST_F(UpdateCommandFlow, SixImagersStartSixWorkersInAWindow360PixelsTaller) {
    usbWith(6);
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    // No port answers: every worker fails to open its port, after the
    // window has grown.
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    const auto moves = window().journalOf("move");
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0], "move 0 0 335 664");
    EXPECT_EQ(moves[1], "move 0 0 335 304");
    EXPECT_EQ(window().messageBoxes().size(), 6u);
    EXPECT_EQ(state.DeviceCount, 6);
    // The poll stopped before the window grew and came back only with the
    // mode entered when the run closed.
    const auto journal = window().journal();
    const auto grew = std::find(journal.begin(), journal.end(), moves[0]);
    const auto shrank = std::find(journal.begin(), journal.end(), moves[1]);
    EXPECT_EQ(*(grew - 1), "kill-timer 0");
    EXPECT_EQ(std::count(grew, shrank, "timer 0 250"), 0);
    EXPECT_TRUE(polling());
}

TEST_F(UpdateCommandFlow, AtOneAndAHalfTimesTheScalingTheWindowGrowsNinetyPixelsPerImager) {
    window().setDpi(144);
    usbWith(6);
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    EXPECT_EQ(window().journalOf("move"),
              (std::vector<std::string>{"move 0 0 335 844", "move 0 0 335 304"}));
}

TEST_F(UpdateCommandFlow, AnAdapterPluggedInLaterIsListedAfterCom20AndConnectsAsACom) {
    const std::u16string serialComm = u"HARDWARE\\DEVICEMAP\\SERIALCOMM";
    EXPECT_EQ(window().control(IDC_COMBO_PORT).items.size(), 20u);
    services.fakeRegistry().addString(serialComm, u"\\Device\\VCP0", u"COM27");
    services.fakeRegistry().addString(serialComm, u"\\Device\\Serial0", u"COM1");
    // Read again whenever RS-232 is chosen.
    host.click(IDC_RADIO_USB);
    host.click(IDC_RADIO_RS232);
    auto items = window().control(IDC_COMBO_PORT).items;
    ASSERT_EQ(items.size(), 21u);
    EXPECT_EQ(items[19], "COM20");
    EXPECT_EQ(items[20], "COM27");

    window().setComboSelection(IDC_COMBO_PORT, 20);
    services.useOneClock();
    answerSetup(services.line("COM27", Services::kUiThread));
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    EXPECT_EQ(services.line("COM27", 0).openedBauds(), (std::vector<uint32_t>{9600, 115200}));
    EXPECT_EQ(window().comboSelection(IDC_COMBO_PORT), 20) << "the choice outlives the run";

    // Unplugged: gone at the next switch, and the list starts at COM1 again.
    services.fakeRegistry().removeKey(serialComm);
    host.click(IDC_RADIO_USB);
    host.click(IDC_RADIO_RS232);
    EXPECT_EQ(window().control(IDC_COMBO_PORT).items.size(), 20u);
    EXPECT_EQ(window().comboSelection(IDC_COMBO_PORT), 0);
}

TEST_F(UpdateCommandFlow, Rs232RunIsOneWorkerWhateverThePollLeftBehind) {
    services.useOneClock();
    answerSetup(services.line("COM1", Services::kUiThread));
    state.DeviceCount = 5;
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    EXPECT_EQ(state.DeviceCount, 1);
    EXPECT_EQ(window().journalOf("move")[0], "move 0 0 335 364");
    // The setup found the imager at 9600; the worker opened at 115200.
    EXPECT_EQ(services.line("COM1", 0).openedBauds(), (std::vector<uint32_t>{9600, 115200}));
    // The imager does not speak the token protocol here, so the worker fails.
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Connect Failed"}));
    EXPECT_TRUE(window().isEnabled(IDC_RADIO_USB));
    EXPECT_EQ(window().text(IDC_UPDATE), "Connect");
}

// Each device of each run leaves a record in the log, in the columns of a
// report of qor-flash; an RS-232 connect that fails is no run and leaves none.
TEST_F(UpdateCommandFlow, EveryDeviceOfEachRunIsAppendedToTheRunLog) {
    services.useOneClock();
    answerSetup(services.line("COM1", Services::kUiThread));
    usbWith(2);  // COM3 and COM4, neither of which opens
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    host.click(IDC_RADIO_RS232);
    window().invoke([&] { window().setComboSelection(IDC_COMBO_PORT, 6); });
    host.click(IDC_UPDATE);  // COM7 does not open
    window().invoke([&] { window().setComboSelection(IDC_COMBO_PORT, 0); });
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));

    const auto records = testing::readCsvRecords(runLog());
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].front(), "time");
    EXPECT_EQ(records[0].back(), "code");
    std::vector<std::string> outcomes;
    for (std::size_t i = 1; i < records.size(); ++i) {
        const auto& r = records[i];
        ASSERT_EQ(r.size(), 10u);
        EXPECT_EQ(r[3], "image.bin");
        EXPECT_EQ(r[4].size(), 64u);
        outcomes.push_back(r[1] + " " + r[2] + " " + r[5] + " " + r[6] + " " + r[8] + " " + r[9]);
    }
    // The two USB devices in the order they ended.
    std::sort(outcomes.begin(), outcomes.begin() + 2);
    EXPECT_EQ(outcomes, (std::vector<std::string>{
                            "COM3 7&2A1F&0&0 failed 0 Connect To COM3 Failed port-open-failed",
                            "COM4 7&2A1F&0&1 failed 0 Connect To COM4 Failed port-open-failed",
                            "COM1 COM1 failed 0 Connect Failed connect-failed"}));
    EXPECT_EQ(boxTexts().size(), 4u) << "every box shown as before";
}

// A log that cannot be written is passed over without a word, and the next
// run tries it again.
TEST_F(UpdateCommandFlow, ARunLogThatCannotBeWrittenHoldsUpNothing) {
    std::filesystem::create_directories(runLog());  // a folder in the file's place
    usbWith(1);
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"Connect To COM3 Failed"}));

    std::filesystem::remove(runLog());
    host.tick();
    host.click(IDC_UPDATE);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    EXPECT_EQ(boxTexts().size(), 2u);
    EXPECT_EQ(testing::readCsvRecords(runLog()).size(), 2u);
    EXPECT_TRUE(host.close());
}

TEST_F(UpdateCommandFlow, TheDialogRefusesToCloseWhileARunIsOpen) {
    usbWith(1);
    window().holdMessageBoxes(true);
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    host.click(IDC_UPDATE);
    ASSERT_TRUE(window().waitForOpenBoxes(1, kTimeout));
    EXPECT_FALSE(host.close());
    window().answerBox(0);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    EXPECT_TRUE(host.close());
}

TEST_F(UpdateCommandFlow, TheDialogRefusesToCloseWhileTheClickIsStartingARun) {
    usbWith(1);
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    // A close asked for from outside, as a modal file dialog's message loop
    // delivers it to the window behind it.
    std::optional<bool> closed;
    window().setWhileFileDialogOpen([&] { closed = host.close(); });
    host.click(IDC_UPDATE);
    EXPECT_EQ(closed, false);
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    EXPECT_TRUE(host.close());
}

TEST_F(UpdateCommandFlow, ClicksQueuedDuringThePortCheckAreIgnoredUntilTheRunCloses) {
    services.line("COM1", Services::kUiThread);
    const std::vector<std::string> ports = plugImagers(2);
    for (int i = 0; i < 2; ++i) {
        services.line(ports[i], i);  // opens, never answers
    }
    host.click(IDC_RADIO_USB);
    host.tick();
    window().holdMessageBoxes(true);
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    queueClicksDuringThePortCheck();
    host.click(IDC_UPDATE);
    ASSERT_TRUE(window().waitForOpenBoxes(2, kTimeout));
    EXPECT_EQ(window().openFileRequests().size(), 1u) << "no second run was started";
    EXPECT_EQ(checkedMode(), IDC_RADIO_USB);
    EXPECT_FALSE(host.close());
    window().releaseAllBoxes();
    ASSERT_TRUE(host.waitForRunClosed(kTimeout));
    EXPECT_EQ(window().messageBoxes().size(), 2u);
    // Each worker opened its own imager's port; none was sent to COM1.
    EXPECT_TRUE(services.line("COM1", Services::kUiThread).openedBauds().empty());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(services.line(ports[i], i).openedBauds().size(), 1u) << ports[i];
    }
    host.click(IDC_RADIO_RS232);
    EXPECT_EQ(checkedMode(), IDC_RADIO_RS232) << "listened to again once the run closed";
}

TEST_F(UpdateCommandFlow, ClicksQueuedDuringAFailedPortCheckAreIgnoredWhileItsBoxIsOpen) {
    usbWith(2);
    services.fakeRegistry().removeKey(
        u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7B&PID_0E52\\7&2A1F&0&1\\Device "
        u"Parameters");
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    // The box's own loop runs the queued clicks, then the box is answered.
    window().holdMessageBoxes(true);
    queueClicksDuringThePortCheck([this] { window().releaseAllBoxes(); });
    host.click(IDC_UPDATE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"COM Port Error !"}));
    EXPECT_EQ(window().openFileRequests().size(), 1u);
    EXPECT_EQ(checkedMode(), IDC_RADIO_USB);
    EXPECT_TRUE(polling());
}

TEST_F(UpdateCommandFlow, ImagersGoneWhileTheFileWasChosenStartNoRun) {
    usbWith(1);
    window().setOpenFileAnswer(file("image.bin", sim::sampleImage(1024)));
    // The poll ticks on while the file dialog is open and counts nothing.
    window().setWhileFileDialogOpen([&] {
        unplugAll();
        host.dialog().dispatch({DialogEvent::Timer, 0});
    });
    host.click(IDC_UPDATE);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{"COM Port Error !"}));
    EXPECT_TRUE(host.close()) << "no run was opened";
    EXPECT_TRUE(polling());
}

}  // namespace
}  // namespace qor
