// The open-file dialog: the common dialog, filled from the request.

#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include "base/utf16_win32.h"
#include "ui/win32/win32_dialog_window.h"

namespace qor {

namespace {

// "name", NUL, "patterns", NUL and the closing NUL of the list.
std::wstring filterList(const OpenFileRequest& request) {
    std::wstring list = widenUtf8(request.filterName);
    list.push_back(L'\0');
    list += widenUtf8(request.filterSpec);
    list.push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

}  // namespace

std::optional<std::string> Win32DialogWindow::openFileDialog(const OpenFileRequest& request) {
    return onUiThread([&]() -> std::optional<std::string> {
        if (request.maxPathLength <= 0) {
            return std::nullopt;
        }
        // The buffer has the request's capacity and starts with the
        // previous choice; a previous choice too long for it is left out
        // rather than cut to a different path.
        const size_t capacity = static_cast<size_t>(request.maxPathLength);
        std::wstring path(capacity, L'\0');
        const std::wstring initial = widenUtf8(request.initialPath);
        if (initial.size() < capacity) {
            initial.copy(path.data(), initial.size());
        }
        const std::wstring filter = filterList(request);

        OPENFILENAMEW dialog{};
        dialog.lStructSize = sizeof(dialog);
        dialog.hwndOwner = m_hwnd;
        dialog.lpstrFilter = filter.c_str();
        dialog.nFilterIndex = 1;
        dialog.lpstrFile = path.data();
        dialog.nMaxFile = static_cast<DWORD>(capacity);
        dialog.Flags = request.flags;
        if (!::GetOpenFileNameW(&dialog)) {
            return std::nullopt;  // cancelled, or the dialog failed
        }
        path.resize(path.find(L'\0') == std::wstring::npos ? capacity : path.find(L'\0'));
        return narrowToUtf8(path);
    });
}

}  // namespace qor
