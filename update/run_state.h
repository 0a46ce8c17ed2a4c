#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/usb_discovery.h"
#include "text/ui_language.h"

namespace qor {

// The values an update run shares with the front end that started it, owned
// by the application and passed by reference. The user-interface thread
// writes FirmwarePath, FirmwareBytes, PortNameTable, UsbInstances,
// HighSpeedFlag and DeviceCount before a run's workers start and only reads
// them while the run is open; the workers write only SuccessCount and
// runningWorkers.
struct RunState {
    // Language of every text shown; 2052 selects Chinese. Set once when the
    // dialog initialises.
    uint16_t UiLanguage = kInitialUiLanguage;
    // Imagers counted by the last poll; the number of workers of a run.
    uint8_t DeviceCount = 0;
    // Workers of the current run that succeeded.
    std::atomic<uint8_t> SuccessCount{0};
    // The RS-232 imager answered at 230400 baud.
    uint8_t HighSpeedFlag = 0;
    // The image chosen last; never cleared, so the file dialog starts there.
    std::string FirmwarePath;
    // The bytes of the image as the run's check read them: what every worker
    // of the run sends, whatever becomes of the file meanwhile.
    std::shared_ptr<const std::vector<uint8_t>> FirmwareBytes;
    // Port names of the attached USB imagers, written by CollectUsbPorts.
    qor::PortNameTable PortNameTable;
    // The USB instance of each entry of PortNameTable, written by the same
    // collection; empty where none is known.
    UsbInstanceTable UsbInstances;
    // Workers of the current run that have not yet finished their end steps.
    std::atomic<int> runningWorkers{0};
};

}  // namespace qor
