#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "app/flash/interrupt.h"
#include "app/flash/open_problem.h"
#include "app/flash/services.h"
#include "app/flash/stop_control.h"
#include "ui/app_state.h"
#include "update/image_header.h"
#include "update/update_dialog.h"

namespace qor {

// How one imager's update of a watch ended.
struct StationOutcome {
    enum class Result { Succeeded, Failed, Interrupted };
    Result result = Result::Failed;
    uint32_t bytesSent = 0;
    double seconds = 0;
    std::string message;  // why it failed or was stopped; empty on success
    // How it ended, the same in every language (see text/result_codes.h).
    std::string_view code;
    // Why its port would not open, when that is how it failed.
    OpenProblem openProblem = OpenProblem::None;
    // Its line went away under the update: the imager was unplugged or reset
    // itself, and may be back already.
    bool lineGone = false;
};

const char* resultName(StationOutcome::Result result);

// One imager of a watch, updated on a worker of its own: a run of one
// device with its own state, stop decisions and services, so that imagers
// come and go independently and their number is bound by nothing of the
// window's. Follows the worker through its typed device events. The object
// may go once finished() is true; its end wakes the interrupt's waiter.
class StationJob final : public UpdateDialog, private DeviceObserver {
  public:
    // `image` is the watch's image as it was checked: every job sends those
    // bytes, whatever becomes of the file during the watch.
    StationJob(Interrupt& interrupt, const FirmwareImage& image, uint16_t language,
               std::string port, std::string instance);
    ~StationJob() override;
    StationJob(const StationJob&) = delete;
    StationJob& operator=(const StationJob&) = delete;

    // Starts the worker; false when no thread could be had (the job is then
    // finished, failed).
    bool start();
    bool finished() const { return m_finished.load(); }
    // Valid once finished.
    StationOutcome outcome() const;

    const std::string& port() const { return m_port; }
    const std::string& instance() const { return m_instance; }

    // UpdateDialog
    DeviceObserver& deviceEvents() override { return *this; }
    AppState& state() override { return m_state; }
    Services& services() override { return m_services; }
    void enterSelectedMode() override {}
    bool usbModeSelected() override { return true; }
    std::string selectedComPort() override { return {}; }
    void runClosed() override;

  private:
    // DeviceObserver
    void workerStarted(int /*device*/) override {}
    void connecting(int device, std::string_view /*port*/, int /*unansweredWaits*/) override {
        m_stop.setStage(device, StopStage::Connecting);
    }
    void transferStarted(int device, uint32_t totalBytes) override;
    void blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) override;
    void checking(int device) override { m_stop.setStage(device, StopStage::Finishing); }
    void updating(int device, int /*step*/) override {
        m_stop.setStage(device, StopStage::Finishing);
    }
    void updateWaitMissed(int /*device*/, int /*unansweredWaits*/) override {}
    void updateEnded(int /*device*/) override {}
    void succeeded(int device) override;
    void failed(int device, Situation situation, std::string_view text) override;
    void portReleased(int /*device*/, bool /*transferStarted*/) override {}
    void runClosing(int /*devices*/, bool /*allSucceeded*/) override {}

    const std::string m_port;
    const std::string m_instance;
    StopControl m_stop;
    ConsoleServices m_services;
    AppState m_state;
    const std::chrono::steady_clock::time_point m_started = std::chrono::steady_clock::now();

    // Written by the worker alone, a block at a time, without the lock.
    std::atomic<uint32_t> m_bytesSent{0};
    mutable std::mutex m_mutex;
    StationOutcome m_outcome;
    bool m_transferring = false;
    uint32_t m_totalBytes = 0;
    std::atomic<bool> m_finished{false};
};

}  // namespace qor
