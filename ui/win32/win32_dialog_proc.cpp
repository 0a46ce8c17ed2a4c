// The dialog procedure: what Windows tells the dialog window, turned into
// the dialog's events, and the little painting the window does itself.

#include "text/ui_language.h"
#include "ui/win32/win32_dialog_window.h"

namespace qor {

INT_PTR CALLBACK Win32DialogWindow::dialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    auto* self = reinterpret_cast<Win32DialogWindow*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Win32DialogWindow*>(lParam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->onInitDialog(hwnd);
        // The system gives the focus to the first tab stop.
        return TRUE;
    }
    // Messages before WM_INITDIALOG (the font, the frame) are the system's.
    return self != nullptr ? self->onMessage(message, wParam, lParam) : FALSE;
}

void Win32DialogWindow::onInitDialog(HWND hwnd) {
    m_hwnd = hwnd;
    m_dialog.attach(*this);
    // The dialog reads its window rectangle here, while the window still
    // stands at the template's position, the screen origin.
    m_dialog.dispatch({DialogEvent::InitDialog});
    // The template asks for no centring: like the dialog framework, the
    // window is centred once the dialog has initialised.
    centreOnWorkArea();
}

INT_PTR Win32DialogWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kRunTask:
            (*reinterpret_cast<const std::function<void()>*>(lParam))();
            syncShutdownBlock();  // the last worker closes the run in a task
            return TRUE;
        case WM_COMMAND: {
            if (HIWORD(wParam) != BN_CLICKED) {
                return FALSE;
            }
            // IDOK and IDCANCEL come from Enter and Escape (the device rows
            // that share ids 1 and 2 are progress bars and never click).
            const int id = LOWORD(wParam);
            if (id == IDOK || id == IDCANCEL) {
                requestClose(id);
            } else {
                m_dialog.dispatch({DialogEvent::Clicked, id});
                syncShutdownBlock();
            }
            return TRUE;
        }
        case WM_TIMER:
            m_dialog.dispatch({DialogEvent::Timer, static_cast<int>(wParam)});
            return TRUE;
        case WM_CLOSE:
            requestClose(IDCANCEL);
            return TRUE;
        case WM_QUERYENDSESSION:
            // The close box is refused while imagers are being written, and
            // so is a log-off: it would end the program mid-transfer.
            if (m_dialog.canClose()) {
                return FALSE;  // the default: yes
            }
            syncShutdownBlock();
            ::SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, FALSE);
            return TRUE;
        case WM_PAINT:
            m_dialog.dispatch({DialogEvent::Paint});
            if (::IsIconic(m_hwnd)) {
                paintMinimised();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            m_dialog.dispatch({DialogEvent::QueryDragIcon});
            // One of the messages whose answer is the procedure's result.
            return reinterpret_cast<INT_PTR>(m_bigIcon.get());
        case WM_DESTROY:
            m_dialog.dispatch({DialogEvent::Destroy});
            return FALSE;
        default:
            return FALSE;
    }
}

void Win32DialogWindow::requestClose(int result) {
    m_dialog.dispatch({DialogEvent::Close});
    if (m_dialog.ended()) {
        ::EndDialog(m_hwnd, result);
    }
}

void Win32DialogWindow::syncShutdownBlock() {
    const bool block = !m_dialog.canClose();
    if (block == m_shutdownBlocked) {
        return;
    }
    if (block) {
        const wchar_t* reason =
            usesChineseTexts(m_dialog.state().UiLanguage)
                ? L"\u6B63\u5728\u66F4\u65B0\u626B\u63CF\u5668\u56FA\u4EF6\uFF0C"
                  L"\u73B0\u5728\u7ED3\u675F\u4F1A\u4F7F\u66F4\u65B0\u4E2D\u65AD"
                : L"Updating imager firmware: ending now would cut the update off";
        m_shutdownBlocked = ::ShutdownBlockReasonCreate(m_hwnd, reason) != FALSE;
    } else {
        ::ShutdownBlockReasonDestroy(m_hwnd);
        m_shutdownBlocked = false;
    }
}

void Win32DialogWindow::paintMinimised() {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(m_hwnd, &paint);
    ::SendMessageW(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client{};
    ::GetClientRect(m_hwnd, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    if (m_bigIcon) {
        ::DrawIcon(dc, x, y, m_bigIcon.get());
    }
    ::EndPaint(m_hwnd, &paint);
}

void Win32DialogWindow::centreOnWorkArea() {
    RECT window{};
    ::GetWindowRect(m_hwnd, &window);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!::GetMonitorInfoW(::MonitorFromWindow(m_hwnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
        return;
    }
    const RECT& area = monitor.rcWork;
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int left = area.left + (area.right - area.left - width) / 2;
    const int top = area.top + (area.bottom - area.top - height) / 2;
    // Not above or left of the work area, so the caption stays reachable.
    ::SetWindowPos(m_hwnd, nullptr, left > area.left ? left : area.left,
                   top > area.top ? top : area.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace qor
