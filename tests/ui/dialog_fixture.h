#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/scripted_services.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/memory_dialog_host.h"
#include "ui/app_state.h"

namespace qor::testing {

// The real dialog on the in-memory host, in virtual time, with a registry
// and serial lines the test lays out.
class DialogFixture : public ::testing::Test {
  protected:
    // `language` is what the user's environment says.
    explicit DialogFixture(const char* language = "en_US.UTF-8");
    ~DialogFixture() override;

    MemoryWindow& window() { return host.window(); }
    ManualClock& uiClock() { return services.manualClock(Services::kUiThread); }

    // Lists `count` imagers in the registry, on COM3, COM4, ... unless other
    // names are given. Returns their port names.
    std::vector<std::string> plugImagers(int count);
    // Lists one imager whose port is `portName`.
    void plugImager(const std::string& instance, const std::string& portName);
    void unplugAll();

    // The user's state folder, where the dialog keeps its log of runs.
    TempDir stateDir;
    std::filesystem::path runLog() const { return stateDir / "qor-updater" / "runs.csv"; }

    AppState state;
    ScriptedServices services;
    MemoryDialogHost host{state, services, runLog()};

  private:
    int m_instances = 0;
};

}  // namespace qor::testing
