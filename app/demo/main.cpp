// qor-updater-demo: the updater exactly as qor-updater runs it, with a
// second thread that plays its user through one USB run and saves
// screenshots. For unattended demos (scripts/run.sh on a machine with no
// display runs it under Xvfb); the updater itself has no such mode.
//
//     qor-updater-demo FIRMWARE SCREENSHOT_DIR [IMAGERS]
//
// IMAGERS (1 to 6, 2 unless given) is how many imagers the run waits for.

#include <QApplication>
#include <QDir>
#include <atomic>
#include <cstdio>
#include <thread>

#include "app/demo/driver.h"
#include "ui/cqor_app.h"
#include "ui/qt/qt_dialog_host.h"
#include "update/services.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    bool countRead = true;
    const int imagers = args.size() == 4 ? args.at(3).toInt(&countRead) : 2;
    if (args.size() < 3 || args.size() > 4 || !countRead || imagers < 1 || imagers > 6) {
        std::fprintf(stderr, "usage: qor-updater-demo FIRMWARE SCREENSHOT_DIR [IMAGERS]\n");
        return 2;
    }
    qor::demo::DemoPlan plan;
    plan.firmwarePath = args.at(1);
    plan.screenshotDir = args.at(2);
    plan.expectedDevices = imagers;
    QDir().mkpath(plan.screenshotDir);

    qor::SystemServices services;
    qor::QtDialogHost host;
    qor::CQorApp app(host, services);
    std::atomic<int> result{-1};
    std::thread user([&] { result = qor::demo::driveOneUsbRun(plan, app.state()); });
    app.InitInstance();
    // The scripted user may still be asking the GUI thread something.
    while (result.load() < 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    user.join();
    return result.load();
}
