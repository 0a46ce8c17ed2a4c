#include "app/flash/stoppable_line.h"

#include <algorithm>

namespace qor {

namespace {

// The longest a read waits before the interrupt is looked at again. The
// callers measure silence on their own clock, so a shorter read is only one
// more turn of their loop.
constexpr uint32_t kReadSliceMs = 50;

// Once a device is cut short, every reading of its clock is this much later
// than the one before: beyond the longest limit any wait measures (a wait
// gives up after ten seconds of noise), so each wait that starts ends at its
// first look at the clock.
constexpr uint32_t kCutShortStepMs = 100 * 1000;

}  // namespace

StoppablePort::~StoppablePort() {
    if (m_inner->gone()) {
        m_stop.noteLineGone(m_device);
    }
}

bool StoppablePort::readByte(uint8_t& byte, uint32_t wait_ms) {
    if (m_stop.action(m_device) == StopAction::CutNow) {
        m_stop.noteStopped(m_device);
        return false;
    }
    return m_inner->readByte(byte, std::min(wait_ms, kReadSliceMs));
}

bool StoppablePort::write(std::span<const uint8_t> data) {
    const StopAction action = m_stop.action(m_device);
    if (action == StopAction::CutNow || action == StopAction::AfterBlock) {
        m_stop.noteStopped(m_device);
        return false;
    }
    return m_inner->write(data);
}

uint32_t StoppableClock::now_ms() {
    const uint32_t now = m_steady.now_ms();
    if (m_stop.action(m_device) != StopAction::CutNow) {
        return now;
    }
    // The leap alone can end a wait (the stop may come between a read and
    // the look at the clock that follows it): the device was stopped, and
    // must be reported so, not as an imager that fell silent.
    m_stop.noteStopped(m_device);
    // Tick arithmetic wraps by design: only differences are ever compared.
    return now + (m_leaps.fetch_add(1) + 1) * kCutShortStepMs;
}

void StoppableClock::sleep_ms(uint32_t ms) {
    const uint32_t start = m_steady.now_ms();
    for (uint32_t slept = 0; slept < ms; slept = m_steady.now_ms() - start) {
        switch (m_stop.action(m_device)) {
            case StopAction::CutNow:
                return;
            case StopAction::None:
                m_stop.interrupt().waitUnlessRequested(ms - slept);
                break;
            default:
                m_steady.sleep_ms(ms - slept);
                break;
        }
    }
}

}  // namespace qor
