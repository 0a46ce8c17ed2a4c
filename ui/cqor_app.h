#pragma once

#include <filesystem>

#include "ui/app_state.h"
#include "ui/dialog_host.h"
#include "update/services.h"

namespace qor {

// The application: owns the values the program shares and runs the main
// dialog modally on the host it is given. The process ends when the dialog
// closes.
class CQorApp {
  public:
    // `runLog`: where the dialog keeps its log of runs (see RunLog); none
    // when empty.
    CQorApp(DialogHost& host, Services& services, std::filesystem::path runLog = {})
        : m_host(host), m_services(services), m_runLog(std::move(runLog)) {}

    // Runs the dialog; false, so that the caller ends the process rather
    // than start a message loop of its own.
    bool InitInstance();

    AppState& state() { return m_state; }

  private:
    DialogHost& m_host;
    Services& m_services;
    const std::filesystem::path m_runLog;
    AppState m_state;
};

}  // namespace qor
