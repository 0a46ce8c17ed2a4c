// The updater on a desktop: the application object runs the main dialog in
// a Qt window over the system's own ports, clock and USB device list.

#include <QApplication>

#include "ui/cqor_app.h"
#include "ui/qt/qt_dialog_host.h"
#include "ui/run_log_path.h"
#include "update/services.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    qor::SystemServices services;
    qor::QtDialogHost host;
    qor::CQorApp app(host, services, qor::runLogPath());
    app.InitInstance();
    return 0;
}
