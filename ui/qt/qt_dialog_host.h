#pragma once

#include <memory>

#include "ui/dialog_host.h"
#include "ui/qt/qt_dialog_window.h"

namespace qor {

// Shows the main dialog in a Qt window. Needs a QApplication and runs on
// its thread, the GUI thread.
class QtDialogHost final : public DialogHost {
  public:
    // Builds the window from the template, attaches it to `dialog`,
    // initialises the dialog and centres the window, as the dialog framework
    // does before the dialog's first message; the window is then shown and
    // takes events from the running event loop.
    static std::unique_ptr<QtDialogWindow> open(CQorDlg& dialog);

    // Opens the window and runs it until the user closes it.
    int runModal(CQorDlg& dialog) override;
};

}  // namespace qor
