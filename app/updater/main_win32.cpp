// The updater on Windows: the application object runs the main dialog from
// the program's own dialog resource over the system's ports, clock and
// registry.

#include <windows.h>

#include "ui/cqor_app.h"
#include "ui/run_log_path.h"
#include "ui/win32/win32_dialog_host.h"
#include "update/services.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    qor::SystemServices services;
    qor::Win32DialogHost host(instance);
    qor::CQorApp app(host, services, qor::runLogPath());
    app.InitInstance();
    return 0;
}
