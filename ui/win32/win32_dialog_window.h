#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <type_traits>

#include "ui/cqor_dlg.h"
#include "ui/win32/gdi_handles.h"
#include "ui/window.h"

namespace qor {

// The main dialog's window on Windows: the dialog resource, its dialog
// procedure and the Window calls in Win32 terms. It has no behaviour of its
// own; clicks, ticks, painting and the end of the window go to the dialog's
// message map.
//
// Calls from a worker thread are carried out on the user-interface thread
// with SendMessage, which returns once the call is done there; that thread
// answers sent messages even while it sits in a message box or the file
// dialog. Message boxes are the exception: each is raised on the thread that
// asks for it, owned by the dialog, so several workers can have theirs open
// at once and each waits only for its own.
class Win32DialogWindow final : public Window {
  public:
    // Built on the user-interface thread, the thread that runs the dialog.
    Win32DialogWindow(CQorDlg& dialog, HINSTANCE instance);
    ~Win32DialogWindow() override;
    Win32DialogWindow(const Win32DialogWindow&) = delete;
    Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

    // The dialog procedure of IDD_MAIN_DIALOG; WM_INITDIALOG's parameter is
    // the Win32DialogWindow.
    static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HWND handle() const { return m_hwnd; }

    // Window.
    void setItemText(int id, std::string_view text) override;
    std::string itemText(int id) override;
    void enableItem(int id, bool enabled) override;
    void showItem(int id, bool visible) override;
    int checkedRadioButton(int first, int last) override;
    void checkRadioButton(int first, int last, int id) override;
    void addComboString(int id, std::string_view text) override;
    void resetCombo(int id) override;
    void setComboSelection(int id, int index) override;
    int comboSelection(int id) override;
    void setPicture(int id, int bitmapId) override;
    void setProgressRange(int id, uint16_t minimum, uint16_t maximum) override;
    void setProgressPos(int id, int position) override;
    void createControl(const ControlSpec& control) override;
    Rect windowRect() override;
    int dpi() override;
    void moveWindow(const Rect& rect, bool repaint) override;
    void setTimer(int id, uint32_t periodMs) override;
    void killTimer(int id) override;
    void setIcon(int iconId, bool big) override;
    int messageBox(std::string_view text, std::string_view title, uint32_t type) override;
    std::optional<std::string> openFileDialog(const OpenFileRequest& request) override;
    void invoke(const std::function<void()>& task) override;

  private:
    // The private message that carries a task to the user-interface
    // thread; its lParam points to a std::function<void()>.
    static constexpr UINT kRunTask = WM_APP + 1;

    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void onInitDialog(HWND hwnd);
    // The close box, Escape or Enter: refused while an update run is open.
    void requestClose(int result);
    // While a run is starting or open, a log-off or shutdown is refused
    // (WM_QUERYENDSESSION) and Windows is told why; the reason goes once
    // the run has closed.
    void syncShutdownBlock();
    void paintMinimised();
    void centreOnWorkArea();
    HWND item(int id) const { return ::GetDlgItem(m_hwnd, id); }

    template <typename Task>
    auto onUiThread(Task&& task);

    CQorDlg& m_dialog;
    HINSTANCE m_instance;
    DWORD m_uiThread;
    HWND m_hwnd = nullptr;
    UniqueIcon m_bigIcon;
    UniqueIcon m_smallIcon;
    // The picture each bitmap control shows; ours until the window is gone.
    std::map<int, UniqueBitmap> m_pictures;
    bool m_shutdownBlocked = false;
};

template <typename Task>
auto Win32DialogWindow::onUiThread(Task&& task) {
    using Result = std::invoke_result_t<Task&>;
    if (::GetCurrentThreadId() == m_uiThread) {
        return task();
    }
    if constexpr (std::is_void_v<Result>) {
        std::function<void()> call = [&task] { task(); };
        ::SendMessageW(m_hwnd, kRunTask, 0, reinterpret_cast<LPARAM>(&call));
    } else {
        std::optional<Result> result;
        std::function<void()> call = [&task, &result] { result.emplace(task()); };
        ::SendMessageW(m_hwnd, kRunTask, 0, reinterpret_cast<LPARAM>(&call));
        return result ? std::move(*result) : Result{};
    }
}

}  // namespace qor
