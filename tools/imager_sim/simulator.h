#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/unique_fd.h"
#include "tools/imager_sim/options.h"
#include "tools/imager_sim/pty.h"
#include "tools/imager_sim/record.h"
#include "tools/imager_sim/wire.h"

namespace qor::sim {

// One simulated imager on a pseudo-terminal, played by a thread of its own.
//
//     ImagerSimulator imager(options);
//     imager.start();                    // opens the pty, starts the thread
//     open(imager.portPath(), ...);      // the host's side of the line
//     imager.waitFor([](const ImagerRecord& r) { return r.run.completed; }, 2000);
//     imager.record().received;          // every byte the host sent
//     imager.stop();                     // or let the destructor do it
class ImagerSimulator {
  public:
    explicit ImagerSimulator(ImagerOptions options = {});
    ~ImagerSimulator();
    ImagerSimulator(const ImagerSimulator&) = delete;
    ImagerSimulator& operator=(const ImagerSimulator&) = delete;

    // Opens the line and starts playing. False when no pty could be had;
    // error() then holds the OS error. Starting twice does nothing.
    bool start();
    // Stops the thread and closes the line; the slave path goes away. Safe to
    // call more than once, also from tests that never started.
    void stop();

    // The slave's path ("/dev/pts/N") for the host to open; empty until started.
    const std::string& portPath() const { return m_port_path; }
    int error() const { return m_error; }
    const ImagerOptions& options() const { return m_options; }

    // What the imager saw and did so far; safe while it runs.
    ImagerRecord record() const { return m_recorder.snapshot(); }
    std::vector<uint8_t> received() const { return record().received; }
    std::vector<SetupPacket> setupPackets() const { return record().setup_packets; }

    // Waits until `done` holds for the record, at most `timeout_ms`.
    bool waitFor(const std::function<bool(const ImagerRecord&)>& done, uint32_t timeout_ms) const {
        return m_recorder.waitFor(done, timeout_ms);
    }
    bool waitForReceived(std::size_t count, uint32_t timeout_ms) const;

  private:
    void run();

    const ImagerOptions m_options;
    Recorder m_recorder;
    SteadyClock m_clock;
    std::unique_ptr<WireModel> m_wire;
    std::unique_ptr<PtyLine> m_line;
    std::string m_port_path;
    int m_error = 0;
    // stop() writes a byte here; the thread's every wait includes it.
    UniqueFd m_wake_read;
    UniqueFd m_wake_write;
    std::thread m_thread;
};

}  // namespace qor::sim
