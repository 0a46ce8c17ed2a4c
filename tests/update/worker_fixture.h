#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/memory_window.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_dialog.h"
#include "tests/update/scripted_imager.h"
#include "tools/testkit/sample_image.h"
#include "ui/resource_ids.h"

namespace qor::testing {

// Safety net for waits on other threads; nothing in these tests takes long.
inline constexpr std::chrono::seconds kThreadTimeout{20};

// A dialog in USB mode with one imager per device on "COM7", "COM8", ...
// (device index i on "COM<7+i>"), each line on its device's own clock, and
// an image of four blocks.
class WorkerFixture : public ::testing::Test {
  protected:
    explicit WorkerFixture(int devices = 1);
    ~WorkerFixture() override;

    AppState& state() { return dialog.state(); }
    MemoryWindow& window() { return dialog.memoryWindow(); }
    static std::string portName(int device) { return "COM" + std::to_string(7 + device); }
    ScriptedLine& line(int device = 0) { return dialog.line(portName(device), device); }
    ManualClock& clock(int device = 0) { return dialog.clock(device); }

    void useImage(std::vector<uint8_t> bytes);

    // Runs device 0's worker to its end on this thread, as the only worker
    // of its run. Returns the worker's exit code.
    unsigned runOneWorker();

    // Texts written into device `device`'s label, in order.
    std::vector<std::string> labelTexts(int device = 0);
    // Positions given to the device's bar, in order.
    std::vector<int> barPositions(int device = 0);
    // Index of the first journal line equal to `line`, or -1.
    long journalIndex(const std::string& line, std::size_t from = 0);

    // Runs started here; the fixture waits for each to close before the
    // dialog goes.
    int runsStarted = 0;

    TestDialog dialog;
    TempDir dir;
    std::vector<uint8_t> image;
    std::vector<ScriptedImager> imagers;
};

}  // namespace qor::testing
