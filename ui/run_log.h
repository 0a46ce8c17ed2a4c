#pragma once

#include <array>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "serial/usb_discovery.h"
#include "update/csv_report.h"
#include "update/device_events.h"
#include "update/run_record.h"
#include "update/update_dialog.h"

namespace qor {

// The window's log of its runs: for each device of each run, the record a
// report of qor-flash keeps, appended to `path` (its folder made when
// missing) and on the disk before the device's outcome is shown. The device
// events go on to `shown` unchanged. The log never holds up or fails a run:
// a record that cannot be written is dropped without a word, and the next
// one tries again. Calls come from the workers of a run at once, each about
// its own device.
class RunLog final : public DeviceObserver {
  public:
    RunLog(DeviceObserver& shown, UpdateDialog& dialog, std::filesystem::path path);

    void workerStarted(int device) override;
    void connecting(int device, std::string_view port, int unansweredWaits) override {
        m_shown.connecting(device, port, unansweredWaits);
    }
    void transferStarted(int device, uint32_t totalBytes) override {
        m_shown.transferStarted(device, totalBytes);
    }
    void blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) override;
    void checking(int device) override;
    void updating(int device, int step) override { m_shown.updating(device, step); }
    void updateWaitMissed(int device, int unansweredWaits) override {
        m_shown.updateWaitMissed(device, unansweredWaits);
    }
    void updateEnded(int device) override { m_shown.updateEnded(device); }
    void succeeded(int device) override;
    void failed(int device, Situation situation, std::string_view text) override;
    void portReleased(int device, bool transferStarted) override {
        m_shown.portReleased(device, transferStarted);
    }
    void runClosing(int devices, bool allSucceeded) override;

  private:
    // What the log follows of one device of the run: each is written by
    // its own worker alone.
    struct Device {
        bool running = false;  // from its worker's start to its record
        std::chrono::steady_clock::time_point started;
        std::string port;
        std::string instance;
        uint32_t bytesSent = 0;
        uint32_t totalBytes = 0;
    };

    Device* device(int index);
    void record(int index, bool succeeded, std::string message, std::string_view code);

    DeviceObserver& m_shown;
    UpdateDialog& m_dialog;
    const std::filesystem::path m_path;
    std::array<Device, kPortNameTableSize> m_devices;

    std::mutex m_mutex;  // the file and the run's image, shared by the workers
    std::unique_ptr<CsvReport> m_file;
    std::optional<RecordedImage> m_image;  // of the run, once a record needs it
};

}  // namespace qor
