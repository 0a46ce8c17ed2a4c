#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "app/flash/interrupt.h"
#include "ui/resource_ids.h"

namespace qor {

// How far a device has come, as far as stopping it is concerned.
enum class StopStage : uint8_t {
    Starting,      // nothing of the image has gone out
    Connecting,    // probe or header: still nothing of the image
    Transferring,  // blocks are going out
    Finishing,     // the whole image is in: the imager checks and writes it
};

// What an interrupt does to a device: decided once, at the device's first
// port or clock call after the interrupt, from its stage at that moment, and
// kept from then on so that its clock never runs backwards.
enum class StopAction : uint8_t {
    None,        // no interrupt yet
    CutNow,      // nothing more goes out; answers are not waited for
    AfterBlock,  // the block in hand is answered; the next one does not go out
    LetFinish,   // the imager has everything and writes it by itself
};

// The stop decisions of one run: one slot per device, and one for the
// user-interface thread (the RS-232 connect), whose index is
// Services::kUiThread (-1).
class StopControl {
  public:
    explicit StopControl(Interrupt& interrupt) : m_interrupt(interrupt) {}

    Interrupt& interrupt() { return m_interrupt; }

    void setStage(int device, StopStage stage);
    StopStage stage(int device) const;

    StopAction action(int device);

    // The device's port refused I/O because of the interrupt: the failure
    // that follows is the interrupt's doing.
    void noteStopped(int device);
    bool stopped(int device) const;

    // The device's line went away for good while the worker held it (the
    // imager was unplugged, or reset itself).
    void noteLineGone(int device);
    bool lineGone(int device) const;

  private:
    struct Slot {
        std::atomic<StopStage> stage{StopStage::Starting};
        std::atomic<StopAction> action{StopAction::None};
        std::atomic<bool> stopped{false};
        std::atomic<bool> lineGone{false};
    };
    Slot* slot(int device);
    const Slot* slot(int device) const;

    Interrupt& m_interrupt;
    std::array<Slot, kMaxDeviceRows + 1> m_slots;
};

}  // namespace qor
