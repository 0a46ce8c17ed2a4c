#include "ui/win32/win32_dialog_host.h"

#include <commctrl.h>

#include "ui/resource_ids.h"
#include "ui/win32/win32_dialog_window.h"

namespace qor {

int Win32DialogHost::runModal(CQorDlg& dialog) {
    // The device rows' progress bars are a common control.
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);

    Win32DialogWindow window(dialog, m_instance);
    return static_cast<int>(::DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG),
                                              nullptr, &Win32DialogWindow::dialogProc,
                                              reinterpret_cast<LPARAM>(&window)));
}

}  // namespace qor
