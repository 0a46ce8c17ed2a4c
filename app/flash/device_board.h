#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/flash/report.h"
#include "app/flash/stop_control.h"
#include "serial/serial_port.h"

namespace qor {

// The devices of a run without a window: the device events of the workers
// and the boxes they would raise become each device's phase and counters,
// reported to a sink. Also
// what the command itself has to say. Every call may come from any thread;
// they are carried out one at a time, and so is all output.
class DeviceBoard {
  public:
    DeviceBoard(ProgressSink& sink, StopControl& stop, uint16_t uiLanguage);

    // The run's devices by index, with their ports and instances, and the
    // image's size.
    void begin(const std::vector<RunDevice>& devices, uint32_t imageBytes);

    // What a worker told of its device (device index 0 to 5).
    void connecting(int device, int unansweredWaits);
    void transferStarted(int device);
    void blockSent(int device, uint32_t bytesSent);
    void checking(int device);
    void updating(int device);
    void updateWaitMissed(int device, int unansweredWaits);
    void succeeded(int device);

    // A message box raised on the thread of `device` (or, for -1, on the
    // user-interface thread). `failure`: why the port that was just opened
    // on that thread would not open, when it would not. `code`: the outcome
    // the box tells (see DeviceReport::code).
    void messageBox(int device, std::string_view text, uint32_t type,
                    const std::optional<OpenFailure>& failure, std::string_view code = {});

    // A text of the command itself, with the outcome it tells, if any.
    void note(Note::Kind kind, std::string text, std::string_view code = {});
    // Called after the first Ctrl-C: says once what happens to each device
    // (at the latest before the first note that follows the Ctrl-C).
    void announceInterrupt();

    // Error texts shown so far, the boxes of the run included.
    int errorCount() const;

    // `code`: what ended a run that never got as far as its devices.
    RunSummary summary(int exitCode, std::string_view code = {}) const;
    void finish(int exitCode, std::string_view code = {});

  private:
    // The bytes a device's worker has sent, written by that worker alone
    // without the board's lock, each on a cache line of its own: a block
    // goes out every millisecond or so on every device, and a sink that
    // shows no progress has nothing to do with it until the phase changes.
    struct alignas(64) SentCount {
        std::atomic<uint32_t> bytes{0};
    };

    // The device's report while it is not final, its byte count brought
    // up to its worker's.
    DeviceReport* find(int device);
    void catchUp(DeviceReport& report) const;
    void changed(DeviceReport& report, DevicePhase phase);
    void emitNote(Note note);
    void announceLocked();
    std::string failureText(std::string_view text, const std::optional<OpenFailure>& failure,
                            std::string& hint) const;

    ProgressSink& m_sink;
    StopControl& m_stop;
    const uint16_t m_language;

    mutable std::mutex m_mutex;
    std::vector<DeviceReport> m_devices;
    std::vector<SentCount> m_sent;    // one for each of m_devices
    bool m_sinkShowsProgress = true;  // asked once a run, before the workers start
    int m_errors = 0;
    bool m_announced = false;
};

}  // namespace qor
