#pragma once

#include <atomic>
#include <cstdint>

#include "app/flash/stop_control.h"
#include "base/clock.h"
#include "serial/serial_port.h"

namespace qor {

// A device's port as its worker sees it during a run that Ctrl-C may stop.
// The worker has no stop flag of its own: once an interrupt is decided for
// the device, a refused write (or, before the transfer, an empty read) sends
// it down its ordinary failure path, which closes the port.
class StoppablePort final : public SerialPort {
  public:
    StoppablePort(PortHandle inner, StopControl& stop, int device)
        : m_inner(std::move(inner)), m_stop(stop), m_device(device) {}
    // Tells the run whether the line had gone away by the time the worker
    // let go of it.
    ~StoppablePort() override;

    bool readByte(uint8_t& byte, uint32_t wait_ms) override;
    bool hasBuffered() const override { return m_inner->hasBuffered(); }
    bool write(std::span<const uint8_t> data) override;
    void purge() override { m_inner->purge(); }
    bool gone() const override { return m_inner->gone(); }

  private:
    PortHandle m_inner;
    StopControl& m_stop;
    const int m_device;
};

// A device's clock: real time until an interrupt cuts the device short;
// from then on time races ahead, so every silence limit has passed at the
// next look and sleeps end at once: the waits of the connect end without
// waiting out a second each.
class StoppableClock final : public Clock {
  public:
    StoppableClock(StopControl& stop, int device) : m_stop(stop), m_device(device) {}

    uint32_t now_ms() override;
    void sleep_ms(uint32_t ms) override;

  private:
    SteadyClock m_steady;
    StopControl& m_stop;
    const int m_device;
    std::atomic<uint32_t> m_leaps{0};
};

}  // namespace qor
