#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

#include "app/flash/progress/renderers.h"
#include "base/manual_clock.h"
#include "text/ui_language.h"
#include "tools/testkit/json_reader.h"

namespace qor {
namespace {

DeviceReport report(DevicePhase phase, uint32_t sent) {
    DeviceReport r;
    r.device = 0;
    r.port = "ttyACM0";
    r.phase = phase;
    r.sentBytes = sent;
    r.totalBytes = 4096;
    return r;
}

// A run of one device as the board reports it: phase changes and counters.
void playRun(ProgressSink& sink) {
    sink.deviceChanged(report(DevicePhase::Waiting, 0), true);
    sink.deviceChanged(report(DevicePhase::Connecting, 0), true);
    sink.deviceChanged(report(DevicePhase::Transferring, 0), true);
    for (uint32_t sent = 1024; sent <= 4096; sent += 1024) {
        sink.deviceChanged(report(DevicePhase::Transferring, sent), false);
    }
    sink.note({Note::Kind::Info, -1, "", "The updates were successfully installed"});
    sink.deviceChanged(report(DevicePhase::Succeeded, 4096), true);
    sink.finished({0, {report(DevicePhase::Succeeded, 4096)}});
}

bool hasControlCharacters(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) < 0x20 && c != '\n') || c == 0x7F;
    });
}

TEST(PlainProgress, WritesALinePerPhaseAndNoControlCharacters) {
    std::ostringstream out;
    std::ostringstream err;
    playRun(*makePlainRenderer(out, err, false, kUiLanguageEnglish));

    EXPECT_EQ(out.str(),
              "ttyACM0: waiting\nttyACM0: connecting\nttyACM0: transferring 4 KB\n"
              "ttyACM0: succeeded\n1 of 1 devices updated\n");
    EXPECT_EQ(err.str(), "qor-flash: The updates were successfully installed\n");
    EXPECT_FALSE(hasControlCharacters(out.str()));
}

TEST(PlainProgress, QuietKeepsOnlyTheErrors) {
    std::ostringstream out;
    std::ostringstream err;
    auto sink = makePlainRenderer(out, err, true, kUiLanguageEnglish);
    playRun(*sink);
    sink->note({Note::Kind::Error, 0, "ttyACM0", "Connect Failed"});

    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "qor-flash: ttyACM0: Connect Failed\n");
}

TEST(TerminalProgress, RedrawsItsLinesInPlace) {
    std::ostringstream out;
    std::ostringstream err;
    ManualClock clock;
    auto sink = makeTerminalRenderer(out, err, clock, kUiLanguageEnglish);
    sink->deviceChanged(report(DevicePhase::Transferring, 0), true);
    clock.advance(1000);
    sink->deviceChanged(report(DevicePhase::Transferring, 2048), false);

    const std::string text = out.str();
    // The second drawing goes back up over the first before it writes.
    EXPECT_NE(text.find("\x1b[1F\x1b[J"), std::string::npos);
    EXPECT_NE(text.find("ttyACM0    [############------------]       2 KB / 4 KB  transferring\n"),
              std::string::npos)
        << text;
}

TEST(TerminalProgress, CountersAloneRedrawAtMostTenTimesASecond) {
    std::ostringstream out;
    std::ostringstream err;
    ManualClock clock;
    auto sink = makeTerminalRenderer(out, err, clock, kUiLanguageEnglish);
    sink->deviceChanged(report(DevicePhase::Transferring, 0), true);
    const size_t drawn = out.str().size();
    sink->deviceChanged(report(DevicePhase::Transferring, 1024), false);
    EXPECT_EQ(out.str().size(), drawn);
    clock.advance(100);
    sink->deviceChanged(report(DevicePhase::Transferring, 2048), false);
    EXPECT_GT(out.str().size(), drawn);
}

TEST(JsonProgress, EveryLineIsAnObjectAndTheLastIsTheSummary) {
    std::ostringstream out;
    std::ostringstream err;
    playRun(*makeJsonRenderer(out, err, false));

    std::istringstream lines(out.str());
    std::vector<testing::JsonValue> events;
    for (std::string line; std::getline(lines, line);) {
        const auto value = testing::readJson(line);
        ASSERT_TRUE(value) << line;
        events.push_back(*value);
    }
    ASSERT_EQ(events.size(), 10u);  // 9 device events and messages, 1 summary
    EXPECT_EQ(events[3]["sent"].number(), 1024);
    EXPECT_EQ(events[7]["event"].text(), "message");
    EXPECT_TRUE(events[7]["device"].isNull());
    const auto& summary = events.back();
    EXPECT_EQ(summary["event"].text(), "summary");
    EXPECT_EQ(summary["exit"].number(), 0);
    EXPECT_EQ(summary["devices"].array()[0]["result"].text(), "succeeded");
    EXPECT_EQ(err.str(), "qor-flash: The updates were successfully installed\n");
}

}  // namespace
}  // namespace qor
