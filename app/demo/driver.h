#pragma once

#include <QString>
#include <string>

#include "ui/app_state.h"

namespace qor::demo {

// What one unattended USB run needs: the image to choose in the file dialog
// and where the screenshots go.
struct DemoPlan {
    QString firmwarePath;
    QString screenshotDir;
    int expectedDevices = 2;
};

// Plays the user of one USB run from a thread of its own while the updater's
// window runs on the GUI thread: selects USB, waits for the imagers, clicks
// "Browse..", types the image's name into the file dialog, watches the run,
// answers the success box and closes the window. Every look and click is
// carried out on the GUI thread with real mouse and key events. Screenshots
// of the whole screen are saved on the way. Returns 0 when the run ended
// with the success box and the window back at its size, 1 otherwise (the
// window is closed either way).
int driveOneUsbRun(const DemoPlan& plan, AppState& state);

}  // namespace qor::demo
