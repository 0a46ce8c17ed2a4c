// The Window calls in Win32 terms: each is the window message or function
// that the dialog's framework would use for it.

#include "ui/win32/win32_dialog_window.h"

#include <commctrl.h>

#include "base/utf16_win32.h"

namespace qor {

Win32DialogWindow::Win32DialogWindow(CQorDlg& dialog, HINSTANCE instance)
    : m_dialog(dialog), m_instance(instance), m_uiThread(::GetCurrentThreadId()) {}

// The window is gone by now (DialogBoxParam has returned), so nothing shows
// the pictures and icons any more when their owners release them.
Win32DialogWindow::~Win32DialogWindow() = default;

void Win32DialogWindow::setItemText(int id, std::string_view text) {
    onUiThread([&] { ::SetDlgItemTextW(m_hwnd, id, widenUtf8(text).c_str()); });
}

std::string Win32DialogWindow::itemText(int id) {
    return onUiThread([&]() -> std::string {
        HWND control = item(id);
        if (control == nullptr) {
            return {};
        }
        // As much as the control holds: its length first, then the text.
        const int length = ::GetWindowTextLengthW(control);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        const int copied = ::GetWindowTextW(control, text.data(), length + 1);
        text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
        return narrowToUtf8(text);
    });
}

void Win32DialogWindow::enableItem(int id, bool enabled) {
    onUiThread([&] {
        if (HWND control = item(id)) {
            ::EnableWindow(control, enabled ? TRUE : FALSE);
        }
    });
}

void Win32DialogWindow::showItem(int id, bool visible) {
    onUiThread([&] {
        if (HWND control = item(id)) {
            ::ShowWindow(control, visible ? SW_SHOW : SW_HIDE);
        }
    });
}

int Win32DialogWindow::checkedRadioButton(int first, int last) {
    return onUiThread([&] {
        for (int id = first; id <= last; ++id) {
            if (::IsDlgButtonChecked(m_hwnd, id) == BST_CHECKED) {
                return id;
            }
        }
        return 0;
    });
}

void Win32DialogWindow::checkRadioButton(int first, int last, int id) {
    onUiThread([&] { ::CheckRadioButton(m_hwnd, first, last, id); });
}

void Win32DialogWindow::addComboString(int id, std::string_view text) {
    onUiThread([&] {
        const std::wstring wide = widenUtf8(text);
        ::SendDlgItemMessageW(m_hwnd, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    });
}

void Win32DialogWindow::resetCombo(int id) {
    onUiThread([&] { ::SendDlgItemMessageW(m_hwnd, id, CB_RESETCONTENT, 0, 0); });
}

void Win32DialogWindow::setComboSelection(int id, int index) {
    onUiThread([&] { ::SendDlgItemMessageW(m_hwnd, id, CB_SETCURSEL, index, 0); });
}

int Win32DialogWindow::comboSelection(int id) {
    return onUiThread([&] {
        if (item(id) == nullptr) {
            return -1;
        }
        return static_cast<int>(::SendDlgItemMessageW(m_hwnd, id, CB_GETCURSEL, 0, 0));
    });
}

void Win32DialogWindow::setPicture(int id, int bitmapId) {
    onUiThread([&] {
        HWND control = item(id);
        auto* loaded = static_cast<HBITMAP>(::LoadImageW(m_instance, MAKEINTRESOURCEW(bitmapId),
                                                         IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
        if (control == nullptr || loaded == nullptr) {
            if (loaded != nullptr) {
                ::DeleteObject(loaded);
            }
            return;
        }
        // The control hands back the picture it showed, which is then ours
        // to release: the one it loaded from the template as much as one we
        // gave it. Each mode change loads its picture afresh, so without
        // this every change would leave a bitmap behind.
        UniqueBitmap& owned = m_pictures[id];
        HBITMAP given = owned.release();
        auto* previous = reinterpret_cast<HBITMAP>(
            ::SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(loaded)));
        if (previous != nullptr && previous != loaded) {
            ::DeleteObject(previous);
        }
        // A control that showed a copy of ours (it copies pictures with an
        // alpha channel) returned the copy; ours is still to be released.
        if (given != nullptr && given != previous) {
            ::DeleteObject(given);
        }
        owned.reset(loaded);
    });
}

void Win32DialogWindow::setProgressRange(int id, uint16_t minimum, uint16_t maximum) {
    onUiThread(
        [&] { ::SendDlgItemMessageW(m_hwnd, id, PBM_SETRANGE, 0, MAKELPARAM(minimum, maximum)); });
}

void Win32DialogWindow::setProgressPos(int id, int position) {
    onUiThread([&] { ::SendDlgItemMessageW(m_hwnd, id, PBM_SETPOS, position, 0); });
}

void Win32DialogWindow::createControl(const ControlSpec& control) {
    onUiThread([&] {
        const bool bar = control.kind == ControlSpec::Kind::ProgressBar;
        DWORD style = WS_CHILD;  // hidden until a worker shows it
        if (!bar) {
            style |= control.centred ? SS_CENTER : SS_LEFT;
        }
        const std::wstring text = widenUtf8(control.text);
        // No WM_SETFONT: controls made at run time keep the system's
        // default font rather than the dialog's.
        ::CreateWindowExW(
            0, bar ? PROGRESS_CLASSW : L"STATIC", bar ? nullptr : text.c_str(), style,
            control.rect.left, control.rect.top, control.rect.width(), control.rect.height(),
            m_hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), m_instance, nullptr);
    });
}

Rect Win32DialogWindow::windowRect() {
    return onUiThread([&] {
        RECT rect{};
        ::GetWindowRect(m_hwnd, &rect);
        return Rect{rect.left, rect.top, rect.right, rect.bottom};
    });
}

int Win32DialogWindow::dpi() {
    // The program is system-DPI aware: its fonts and template are sized by
    // the screen's dpi, which Windows keeps for the whole session.
    return onUiThread([&] {
        const UniqueScreenDc screen(::GetDC(nullptr));
        const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
        return dpi > 0 ? dpi : kDefaultDpi;
    });
}

void Win32DialogWindow::moveWindow(const Rect& rect, bool repaint) {
    onUiThread([&] {
        ::MoveWindow(m_hwnd, rect.left, rect.top, rect.width(), rect.height(),
                     repaint ? TRUE : FALSE);
    });
}

void Win32DialogWindow::setTimer(int id, uint32_t periodMs) {
    onUiThread([&] { ::SetTimer(m_hwnd, static_cast<UINT_PTR>(id), periodMs, nullptr); });
}

void Win32DialogWindow::killTimer(int id) {
    onUiThread([&] { ::KillTimer(m_hwnd, static_cast<UINT_PTR>(id)); });
}

void Win32DialogWindow::setIcon(int iconId, bool big) {
    onUiThread([&] {
        // The icon resource holds several sizes; each slot gets the one
        // made for it rather than a scaled one.
        const int width = ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
        const int height = ::GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON);
        auto* icon = static_cast<HICON>(::LoadImageW(m_instance, MAKEINTRESOURCEW(iconId),
                                                     IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
        if (icon == nullptr) {
            return;
        }
        ::SendMessageW(m_hwnd, WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                       reinterpret_cast<LPARAM>(icon));
        // The window holds the new icon now; the one it had can go.
        (big ? m_bigIcon : m_smallIcon).reset(icon);
    });
}

int Win32DialogWindow::messageBox(std::string_view text, std::string_view title, uint32_t type) {
    // On the calling thread, owned by the dialog: a worker's box holds back
    // that worker alone, and the user-interface thread keeps serving the
    // other workers' calls from the box's own message loop.
    const std::wstring wideText = widenUtf8(text);
    const std::wstring wideTitle = widenUtf8(title);
    return ::MessageBoxW(m_hwnd, wideText.c_str(), wideTitle.c_str(), type);
}

void Win32DialogWindow::invoke(const std::function<void()>& task) {
    onUiThread(task);
}

}  // namespace qor
