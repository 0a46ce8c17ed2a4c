#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "update/device_events.h"

namespace qor::testing {

// Writes every device event down as one line ("block 0 2048", "failed 0 17
// <text>": the situation by number) and passes it on unchanged, so a test
// sees the events and what the window made of them.
class EventLog final : public DeviceObserver {
  public:
    explicit EventLog(DeviceObserver& next) : m_next(next) {}

    std::vector<std::string> lines() const;

    void workerStarted(int device) override;
    void connecting(int device, std::string_view port, int unansweredWaits) override;
    void transferStarted(int device, uint32_t totalBytes) override;
    void blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) override;
    void checking(int device) override;
    void updating(int device, int step) override;
    void updateWaitMissed(int device, int unansweredWaits) override;
    void updateEnded(int device) override;
    void succeeded(int device) override;
    void failed(int device, Situation situation, std::string_view text) override;
    void portReleased(int device, bool transferStarted) override;
    void runClosing(int devices, bool allSucceeded) override;

  private:
    void add(std::string line);

    DeviceObserver& m_next;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

}  // namespace qor::testing
