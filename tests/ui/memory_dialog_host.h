#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>

#include "tests/support/memory_window.h"
#include "ui/cqor_dlg.h"
#include "ui/dialog_host.h"

namespace qor::testing {

// Shows the real CQorDlg in a MemoryWindow: lays the template's controls
// out as the dialog resource would (texts, enabled and visible states),
// attaches the dialog, runs its initialisation on the user-interface thread
// and delivers clicks, timer ticks and close requests through the message
// map, as a window system would.
class MemoryDialogHost final : public DialogHost {
  public:
    // `runLog`: where the dialog keeps its log of runs; none when empty.
    MemoryDialogHost(AppState& state, Services& services, std::filesystem::path runLog = {});
    ~MemoryDialogHost() override;

    // Creates the window, at the display scaling `dpi`, and initialises the
    // dialog.
    void open(int dpi = Window::kDefaultDpi);

    // DialogHost: opens, then waits until close() is accepted.
    int runModal(CQorDlg& dialog) override;

    // A click on a control, handled to its end (message boxes included) on
    // the user-interface thread. A radio button is checked first, as an auto
    // radio button is.
    void click(int id);
    // The same without waiting for the handler.
    void clickLater(int id);
    // One tick of every running timer.
    void tick();
    // The user asks to close: refused while an update run is open.
    bool close();

    bool waitForRunClosed(std::chrono::milliseconds timeout);

    MemoryWindow& window() { return *m_window; }
    CQorDlg& dialog() { return *m_dialog; }

  private:
    void layOut();
    void deliver(const DialogMessage& message);

    std::unique_ptr<CQorDlg> m_ownDialog;
    CQorDlg* m_dialog = nullptr;
    std::unique_ptr<MemoryWindow> m_window;
    std::atomic<bool> m_closed{false};
};

}  // namespace qor::testing
