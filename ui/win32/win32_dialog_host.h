#pragma once

#include <windows.h>

#include "ui/dialog_host.h"

namespace qor {

// Shows the main dialog from the dialog resource IDD_MAIN_DIALOG of the
// program's own module, modally, on the calling thread, which becomes the
// user-interface thread.
class Win32DialogHost final : public DialogHost {
  public:
    explicit Win32DialogHost(HINSTANCE instance) : m_instance(instance) {}

    // Returns when the user has closed the dialog: IDOK or IDCANCEL, or -1
    // when the window could not be made.
    int runModal(CQorDlg& dialog) override;

  private:
    HINSTANCE m_instance;
};

}  // namespace qor
