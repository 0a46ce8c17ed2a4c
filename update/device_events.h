#pragma once

#include <cstdint>
#include <string_view>

#include "text/catalogue.h"

namespace qor {

// What happens to each device of a run, told by the update workers and the
// RS-232 handshake as it happens: synchronously, on the thread doing the
// work, in the order of the protocol's steps. A front end turns the calls
// into whatever it shows (the dialog into its rows and message boxes, the
// command line into progress lines); nothing has to be read back out of
// texts or controls. A call returns once the front end has shown it, so a
// blocking front end (a message box) holds the worker there, as the dialog
// always has.
//
// `device` is the device index of the run (0 to DeviceCount - 1); the
// handshake reports as device 0, the only device of an RS-232 run.
class DeviceObserver {
  public:
    virtual ~DeviceObserver() = default;

    // The worker has begun: the run's mode controls are locked and the
    // update picture shown.
    virtual void workerStarted(int device) = 0;

    // The worker waits for the imager's answer to the probe on `port`.
    // With no unanswered wait yet the row comes up showing whatever it last
    // showed; each unanswered wait is told again with the count so far.
    virtual void connecting(int device, std::string_view port, int unansweredWaits) = 0;

    // The header was accepted; `totalBytes` of image follow.
    virtual void transferStarted(int device, uint32_t totalBytes) = 0;

    // One more block is on the wire, before its acknowledgement is awaited.
    virtual void blockSent(int device, uint32_t bytesSent, uint32_t totalBytes) = 0;

    // The imager confirmed the transfer and checks the image.
    virtual void checking(int device) = 0;

    // The imager is updating: `step` of the update's waits have gone by
    // without its answer (0 when the update begins).
    virtual void updating(int device, int step) = 0;

    // One more of the update's waits went by unanswered; told before the
    // pause that follows it, `updating` after it.
    virtual void updateWaitMissed(int device, int unansweredWaits) = 0;

    // The update phase is over, answered or not: the status goes.
    virtual void updateEnded(int device) = 0;

    // The device is updated.
    virtual void succeeded(int device) = 0;

    // The device's update failed in `situation`, worded as `text`. Returns
    // once the user has been told.
    virtual void failed(int device, Situation situation, std::string_view text) = 0;

    // The worker let go of its port, image and buffer. `transferStarted`
    // says whether the device got as far as its transfer (its bar showed).
    virtual void portReleased(int device, bool transferStarted) = 0;

    // The last worker of the run has ended; `devices` took part and all of
    // them succeeded or not. Returns once the user has seen the outcome.
    virtual void runClosing(int devices, bool allSucceeded) = 0;
};

}  // namespace qor
