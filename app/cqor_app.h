#pragma once

#include "app/dialog_host.h"
#include "ui/app_state.h"
#include "update/services.h"

namespace qor {

// The application: owns the values the program shares and runs the main
// dialog modally on the host it is given. The process ends when the dialog
// closes.
class CQorApp {
  public:
    CQorApp(DialogHost& host, Services& services) : m_host(host), m_services(services) {}

    // Runs the dialog; false, so that the caller ends the process rather
    // than start a message loop of its own.
    bool InitInstance();

    AppState& state() { return m_state; }

  private:
    DialogHost& m_host;
    Services& m_services;
    AppState m_state;
};

}  // namespace qor
