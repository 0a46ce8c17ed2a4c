#include "update/update_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "tests/update/worker_fixture.h"
#include "text/ui_language.h"

namespace qor {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::MessageBoxRecord;
using testing::ScriptedImager;
using testing::ScriptedLine;
using testing::WorkerFixture;
using Reply = ScriptedImager::Reply;

constexpr int kLabel = 10;  // device 0's row
constexpr int kBar = 1;

std::string text(const ScriptedLine::Write& write) {
    return std::string(write.bytes.begin(), write.bytes.end());
}

std::vector<Reply> repeat(Reply reply, int times) {
    return std::vector<Reply>(static_cast<std::size_t>(times), reply);
}

// "Upating" with the dots of each wait: one at first, then (j mod 5) + 1
// after the j-th silent wait.
std::vector<std::string> updatingLabels(int waits) {
    std::vector<std::string> labels;
    for (int j = 0; j < waits; ++j) {
        labels.push_back("Upating" + std::string(static_cast<std::size_t>(j % 5 + 1), '.'));
    }
    return labels;
}

class UpdateWorkerTest : public WorkerFixture {
  protected:
    ScriptedImager& imager() { return imagers[0]; }
    std::vector<MessageBoxRecord> boxes() { return window().messageBoxes(); }
};

TEST_F(UpdateWorkerTest, ImageOf256BlocksGoesOutAsHeaderMessageThenEveryBlock) {
    useImage(sim::sampleImage(262144));
    EXPECT_EQ(runOneWorker(), 1u);

    const auto writes = line().writes();
    ASSERT_EQ(writes.size(), 3u + 256u);
    EXPECT_EQ(text(writes[0]), "%QOR%");
    EXPECT_EQ(text(writes[1]), "*probe");
    EXPECT_EQ(writes[1].at_ms - writes[0].at_ms, 250u);
    std::vector<uint8_t> header(image.begin(), image.begin() + 8);
    header.insert(header.end(), {0x00, 0x00, 0x04, 0x00});
    EXPECT_EQ(writes[2].bytes, header);
    std::vector<uint8_t> blocks;
    for (std::size_t i = 3; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].bytes.size(), 1024u) << "write " << i;
        blocks.insert(blocks.end(), writes[i].bytes.begin(), writes[i].bytes.end());
    }
    EXPECT_EQ(blocks, image);
    EXPECT_EQ(writes[0].baud, 921600u);
    EXPECT_EQ(line().purges(), 1);
    EXPECT_EQ(line().closes(), 1);
    EXPECT_EQ(state().SuccessCount.load(), 1);

    EXPECT_THAT(window().journalOf("range 1 "), ElementsAre("range 1 0 256", "range 1 0 30"));
    std::vector<int> positions;
    for (int kb = 0; kb <= 256; ++kb) {
        positions.push_back(kb);
    }
    positions.push_back(0);
    EXPECT_EQ(barPositions(), positions);

    const auto labels = labelTexts();
    ASSERT_EQ(labels.size(), 256u + 4u);
    EXPECT_EQ(labels[0], "1 KB / 256 KB");
    EXPECT_EQ(labels[255], "256 KB / 256 KB");
    EXPECT_THAT(std::vector(labels.begin() + 256, labels.end()),
                ElementsAre("File Transmit Completed", "Check FW....", "Upating.", ""));
}

TEST_F(UpdateWorkerTest, OneDeviceRunEndsWithSuccessBoxThenShrinksAndReentersTheMode) {
    const std::size_t before = window().journal().size();
    runOneWorker();

    const auto journal = window().journal();
    ASSERT_GE(journal.size(), before + 5);
    EXPECT_THAT(std::vector(journal.begin() + static_cast<long>(before),
                            journal.begin() + static_cast<long>(before) + 5),
                ElementsAre("enable 1000 0", "enable 1007 0", "enable 1008 0", "enable 1009 0",
                            "picture 1004 135"));

    const auto all = boxes();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].text, "The updates were successfully installed");
    EXPECT_EQ(all[0].title, "");
    EXPECT_EQ(all[0].type, kSuccessBoxType);

    // The worker's own end steps, then the closing: box, shrink, rows, radios.
    const long closed = journalIndex("box-closed 0x40040 The updates were successfully installed");
    ASSERT_GE(closed, 0);
    EXPECT_LT(journalIndex("show 10 0"), closed);
    EXPECT_LT(journalIndex("show 1 0"), journalIndex("show 10 0"));
    const long move = journalIndex("move 0 0 335 244");
    EXPECT_GT(move, closed);
    EXPECT_GT(journalIndex("enable 1007 1"), move);
    EXPECT_EQ(window().journalOf("move").size(), 1u);

    ASSERT_EQ(dialog.modeEntries().size(), 1u);
    EXPECT_EQ(dialog.modeEntries()[0].radioId, IDC_RADIO_USB);
    EXPECT_EQ(dialog.runsClosed(), 1);
    EXPECT_EQ(window().runningTimers().count(kPollTimerId), 1u);
    EXPECT_FALSE(window().isVisible(kLabel));
    EXPECT_FALSE(window().isVisible(kBar));
    EXPECT_TRUE(window().isEnabled(IDC_RADIO_RS232));
}

TEST_F(UpdateWorkerTest, ProbeAnsweredInTheThirdWaitLeavesTwoDotsAndOneProbe) {
    imager().probeWaits = {Reply::Silent, Reply::Silent, Reply::Token};
    runOneWorker();

    const auto writes = line().writes();
    ASSERT_GE(writes.size(), 3u);
    int probes = 0;
    for (const auto& write : writes) {
        probes += text(write) == "*probe" ? 1 : 0;
    }
    EXPECT_EQ(probes, 1);
    // Two silent waits of just over a second, then the answer half-way
    // into the third.
    EXPECT_EQ(writes[2].at_ms - writes[1].at_ms, 2u * 1001u + 500u);
    const auto labels = labelTexts();
    ASSERT_GE(labels.size(), 3u);
    EXPECT_THAT(std::vector(labels.begin(), labels.begin() + 3),
                ElementsAre("Connect to COM7 .", "Connect to COM7 ..", "1 KB / 4 KB"));
    // The label came up with its old text before the first dot.
    EXPECT_LT(journalIndex("show 10 1"), journalIndex("text 10 Connect to COM7 ."));
    EXPECT_EQ(state().SuccessCount.load(), 1);
}

TEST_F(UpdateWorkerTest, ImagerThatNeverAnswersCostsFiveWaitsAndFiveDots) {
    imager().probeWaits = {};
    bool openAtBox = false;
    uint32_t atBox = 0;
    window().setBoxObserver([&](const MessageBoxRecord&) {
        openAtBox = line().isOpen();
        atBox = clock().now_ms();
    });
    const uint32_t start = clock().now_ms();
    runOneWorker();

    EXPECT_EQ(atBox - start, 250u + 5u * 1001u);
    EXPECT_THAT(labelTexts(),
                ElementsAre("Connect to COM7 .", "Connect to COM7 ..", "Connect to COM7 ...",
                            "Connect to COM7 ....", "Connect to COM7 ....."));
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Connect Failed");
    EXPECT_TRUE(openAtBox);
    EXPECT_EQ(line().writes().size(), 2u);
    EXPECT_EQ(line().closes(), 1);
}

struct ProbeCase {
    const char* name;
    std::vector<Reply> waits;
    bool connects;
    int dots;
};

class ProbeAnswerTest : public UpdateWorkerTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeAnswerTest, EveryAnswerButTheEchoIsOneMoreFailedWait) {
    imager().probeWaits = GetParam().waits;
    runOneWorker();

    std::vector<std::string> expected;
    for (int k = 1; k <= GetParam().dots; ++k) {
        expected.push_back("Connect to COM7 " + std::string(static_cast<std::size_t>(k), '.'));
    }
    const auto labels = labelTexts();
    ASSERT_GE(labels.size(), expected.size());
    EXPECT_EQ(std::vector(labels.begin(), labels.begin() + static_cast<long>(expected.size())),
              expected);
    EXPECT_EQ(line().writes().size() > 2, GetParam().connects);
    EXPECT_EQ(state().SuccessCount.load(), GetParam().connects ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, ProbeAnswerTest,
    ::testing::Values(
        ProbeCase{"FirstWait", {Reply::Token}, true, 0},
        ProbeCase{"RefusalAndErrorThenEcho", {Reply::Nack, Reply::Error, Reply::Token}, true, 2},
        ProbeCase{"FifthWait",
                  {Reply::Silent, Reply::Nack, Reply::Silent, Reply::Error, Reply::Token},
                  true,
                  4},
        ProbeCase{"AlwaysRefused", repeat(Reply::Nack, 5), false, 5},
        ProbeCase{"EchoTooLate", repeat(Reply::Silent, 5), false, 5}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way a worker can fail: the box it shows, in both languages, and
// whether the port was already closed when the box came up.
struct FailureCase {
    const char* name;
    void (*arrange)(WorkerFixture& fixture, ScriptedImager& imager, ScriptedLine& line);
    const char* english;
    const char* chinese;
    bool portOpenAtBox;
    bool barShown;
    bool labelEmptiedAtBox = false;
};

class FailureTest : public UpdateWorkerTest,
                    public ::testing::WithParamInterface<std::tuple<FailureCase, uint16_t>> {
  public:
    // For the arrangements, which see only the base fixture.
    static void setImage(WorkerFixture& fixture, std::size_t size) {
        static_cast<FailureTest&>(fixture).useImage(sim::sampleImage(size));
    }
    static AppState& stateOf(WorkerFixture& fixture) {
        return static_cast<FailureTest&>(fixture).state();
    }
};

const FailureCase kFailures[] = {
    {"NoImageForTheRun",
     [](WorkerFixture& f, ScriptedImager&, ScriptedLine&) {
         FailureTest::stateOf(f).FirmwareBytes.reset();
     },
     "Open File Failed", "档案读取失败", false, false},
    {"PortCannotBeOpened",
     [](WorkerFixture& f, ScriptedImager&, ScriptedLine&) {
         FailureTest::stateOf(f).PortNameTable[0] = "COM9";
     },
     "Connect To COM9 Failed", "COM9 开启失败", false, false},
    {"ProbeNeverAnswered",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) { imager.probeWaits = {}; },
     "Connect Failed", "连线失败", true, false},
    {"HeaderUnanswered",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) { imager.header = Reply::Silent; },
     "Transmit File Failed", "档案传送失败", true, false},
    {"HeaderRefused",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) { imager.header = Reply::Nack; },
     "Invalid Firmware !", "不支持此固件版本 !!", true, false},
    {"HeaderError",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) { imager.header = Reply::Error; },
     "Invalid Firmware !", "不支持此固件版本 !!", true, false},
    {"ImageNotWholeBlocks",
     [](WorkerFixture& f, ScriptedImager&, ScriptedLine&) {
         FailureTest::setImage(f, 3 * 1024 + 100);
     },
     "Open File Failed", "档案读取失败", false, true},
    {"BlockWriteFails",
     // Writes: marker, probe, header, block 0, block 1.
     [](WorkerFixture&, ScriptedImager&, ScriptedLine& line) { line.failWriteAt(4); },
     "Transmit File Failed", "传送发生错误", false, true},
    {"BlockRefused",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) {
         imager.faultBlock = 1;
         imager.blockFault = Reply::Nack;
     },
     "Transmit File Failed (-2)", "档案传送失败", true, true},
    {"BlockError",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) {
         imager.faultBlock = 3;
         imager.blockFault = Reply::Error;
     },
     "Transmit File Failed (-1)", "档案传送失败", true, true},
    {"BlockUnanswered",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) {
         imager.faultBlock = 0;
         imager.blockFault = Reply::Silent;
     },
     "Transmit File Failed (0)", "档案传送失败", true, true},
    {"TransferNotTaken",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) { imager.taken = Reply::Silent; },
     "File Transmit Failed", "档案传送失败", false, true},
    {"TransferRefused",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) { imager.taken = Reply::Nack; },
     "File Transmit Failed", "档案传送失败", false, true},
    {"WritingNeverStarts",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) { imager.checked = Reply::Silent; },
     "File Transmit Failed", "档案传送失败", false, true},
    {"WritingFails",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) {
         imager.updateWaits = {Reply::Silent, Reply::Silent, Reply::Error};
     },
     "Upate Failed", "更新失败", false, true, true},
    {"WritingRefused",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) {
         imager.updateWaits = {Reply::Nack};
     },
     "Upate Failed", "更新失败", false, true, true},
    {"WritingTimesOut",
     [](WorkerFixture&, ScriptedImager& imager, ScriptedLine&) {
         imager.updateWaits = repeat(Reply::Silent, 30);
     },
     "Upate Failed", "软件更新失败", false, true, true},
};

TEST_P(FailureTest, ShowsItsBoxAndReleasesEverythingOnce) {
    const auto& [failure, language] = GetParam();
    state().UiLanguage = language;
    failure.arrange(*this, imager(), line());
    bool openAtBox = false;
    std::size_t writesAtBox = 0;
    std::string labelAtBox;
    window().setBoxObserver([&](const MessageBoxRecord&) {
        openAtBox = line().isOpen();
        writesAtBox = line().writes().size();
        labelAtBox = window().text(kLabel);
    });

    EXPECT_EQ(runOneWorker(), 1u);

    const auto all = boxes();
    ASSERT_EQ(all.size(), 1u) << "one error box, no success box";
    EXPECT_EQ(all[0].text, usesChineseTexts(language) ? failure.chinese : failure.english);
    EXPECT_EQ(all[0].title, "");
    EXPECT_EQ(all[0].type, kErrorBoxType);
    EXPECT_EQ(openAtBox, failure.portOpenAtBox);
    EXPECT_EQ(line().writes().size(), writesAtBox) << "nothing written after a failure";
    EXPECT_EQ(line().closes(), line().openedBauds().empty() ? 0 : 1);
    EXPECT_FALSE(line().isOpen());
    if (failure.labelEmptiedAtBox) {
        EXPECT_EQ(labelAtBox, "");
    }
    EXPECT_EQ(state().SuccessCount.load(), 0);

    // A worker hides its own row only once its bar was up; otherwise the
    // label stays until the run's closing hides every row.
    const long move = journalIndex("move 0 0 335 244");
    ASSERT_GE(move, 0);
    const long ownHide = journalIndex("show 10 0");
    EXPECT_EQ(ownHide < move, failure.barShown);
    EXPECT_EQ(dialog.runsClosed(), 1);
}

INSTANTIATE_TEST_SUITE_P(Situations, FailureTest,
                         ::testing::Combine(::testing::ValuesIn(kFailures),
                                            ::testing::Values(kUiLanguageEnglish,
                                                              kUiLanguageChinese)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) == kUiLanguageChinese ? "Chinese"
                                                                                   : "English");
                         });

TEST_F(UpdateWorkerTest, SilenceWhileWritingCostsThirtyWaitsAndTwentyNinePauses) {
    imager().updateWaits = repeat(Reply::Silent, 30);
    runOneWorker();

    // The marker's pause and 29 pauses between the 30 waits.
    EXPECT_EQ(clock().sleeps(), 30u);
    EXPECT_EQ(clock().slept_ms(), 250u + 29u * 1000u);
    std::vector<int> positions;
    for (int step = 0; step <= 30; ++step) {
        positions.push_back(step);
    }
    const auto all = barPositions();
    ASSERT_GE(all.size(), positions.size());
    EXPECT_EQ(std::vector(all.end() - 31, all.end()), positions);
    EXPECT_EQ(window().control(kBar).rangeMax, 30);

    auto expected = updatingLabels(30);
    expected.push_back("");
    const auto labels = labelTexts();
    ASSERT_GE(labels.size(), expected.size());
    EXPECT_EQ(std::vector(labels.end() - static_cast<long>(expected.size()), labels.end()),
              expected);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Upate Failed");
}

TEST_F(UpdateWorkerTest, AckDuringTheThirtiethWaitStillCountsAsSuccess) {
    imager().updateWaits = repeat(Reply::Silent, 29);
    imager().updateWaits.push_back(Reply::Token);
    runOneWorker();

    EXPECT_EQ(state().SuccessCount.load(), 1);
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].type, kSuccessBoxType);
    EXPECT_EQ(barPositions().back(), 29);
    EXPECT_EQ(labelTexts().back(), "");
}

TEST_F(UpdateWorkerTest, RowTextsStayEnglishInChinese) {
    state().UiLanguage = kUiLanguageChinese;
    imager().probeWaits = {Reply::Silent, Reply::Token};
    runOneWorker();

    EXPECT_THAT(labelTexts(), ElementsAre("连线 COM7 .", "1 KB / 4 KB", "2 KB / 4 KB",
                                          "3 KB / 4 KB", "4 KB / 4 KB", "File Transmit Completed",
                                          "Check FW....", "Upating.", ""));
    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "软件更新成功");
}

struct PortCase {
    const char* name;
    int radio;
    int selection;
    uint8_t highSpeed;
    const char* port;
    uint32_t baud;
};

class PortChoiceTest : public UpdateWorkerTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortChoiceTest, OpensThePortOfTheModeAtItsRate) {
    const PortCase& choice = GetParam();
    ScriptedLine& chosen = dialog.line(choice.port, 0);
    ScriptedImager rs232;
    rs232.attach(chosen);
    dialog.selectMode(choice.radio);
    window().setComboSelection(IDC_COMBO_PORT, choice.selection);
    state().HighSpeedFlag = choice.highSpeed;
    runOneWorker();

    EXPECT_THAT(chosen.openedBauds(), ElementsAre(choice.baud));
    EXPECT_EQ(state().SuccessCount.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, PortChoiceTest,
    ::testing::Values(PortCase{"Rs232AfterHighSpeedConnect", IDC_RADIO_RS232, 4, 1, "COM5", 230400},
                      PortCase{"Rs232", IDC_RADIO_RS232, 0, 0, "COM1", 115200},
                      PortCase{"UsbWhateverTheFlag", IDC_RADIO_USB, 4, 1, "COM7", 921600}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateWorkerTest, Rs232WithoutAChosenPortOpensNothing) {
    dialog.selectMode(IDC_RADIO_RS232);
    window().setComboSelection(IDC_COMBO_PORT, -1);
    runOneWorker();

    ASSERT_EQ(boxes().size(), 1u);
    EXPECT_EQ(boxes()[0].text, "Connect To  Failed");
    EXPECT_TRUE(line().openedBauds().empty());
    EXPECT_EQ(window().journalOf("show 10 1").size(), 0u);
}

// The same runs as told to the front end: each step once, in the order of
// the protocol, a failure with its situation and the text the box shows.
TEST_F(UpdateWorkerTest, TellsEachStepAsADeviceEvent) {
    imager().probeWaits = {Reply::Silent, Reply::Token};
    imager().updateWaits = {Reply::Silent, Reply::Token};
    runOneWorker();

    EXPECT_THAT(
        dialog.eventLines(),
        ElementsAre("started 0", "connecting 0 COM7 0", "connecting 0 COM7 1", "transfer 0 4096",
                    "block 0 1024", "block 0 2048", "block 0 3072", "block 0 4096", "checking 0",
                    "updating 0 0", "missed 0 1", "updating 0 1", "update-ended 0", "succeeded 0",
                    "released 0 1", "closing 1 1"));
}

TEST_F(UpdateWorkerTest, AFailureIsToldWithItsSituationBeforeThePortIsReleased) {
    imager().probeWaits = {};
    runOneWorker();

    const auto lines = dialog.eventLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3],
              "failed 0 " + std::to_string(static_cast<int>(Situation::ProbeNotAnswered)) + " " +
                  boxes()[0].text);
    EXPECT_EQ(lines[lines.size() - 2], "released 0 0");
    EXPECT_EQ(lines.back(), "closing 1 0");
}

}  // namespace
}  // namespace qor
