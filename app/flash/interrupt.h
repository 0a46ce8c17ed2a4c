#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qor {

// The exit status of a run stopped by Ctrl-C: 128 plus SIGINT's number, as
// shells report a program ended by a signal.
inline constexpr int kCtrlCExitStatus = 130;

// A request to stop (Ctrl-C, or the supervisor or terminal ending the
// program). Once requested it stays so.
class Interrupt {
  public:
    virtual ~Interrupt() = default;
    virtual bool requested() const = 0;
    // The status to exit with once stopped: 128 plus the number of the
    // signal that asked first.
    virtual int exitStatus() const { return kCtrlCExitStatus; }
    // Waits up to `ms`, less when an interrupt arrives (or has arrived);
    // returns whether one has.
    virtual bool waitUnlessRequested(uint32_t ms) = 0;

    // For the one thread that waits on the workers: as waitUnlessRequested(),
    // and also less when wake() was called during the wait or since the last
    // one. Other threads must not use it, or a wake-up may go to them.
    virtual bool waitForRequestOrWake(uint32_t ms) = 0;
    // Ends that thread's current or next waitForRequestOrWake() early, without
    // a request: a worker has news for it. Any thread may call it.
    virtual void wake() = 0;
};

// Ctrl-C on the console, and the other ways a program is asked to stop from
// outside, taken alike: SIGTERM (a supervisor) and SIGHUP (a closed
// terminal); on Windows Ctrl-Break and the console window being closed. The
// first one is only noted, for the command to stop its devices at a safe
// point; a second one writes `secondText` to standard error and ends the
// process at once with 128 plus its signal's number (the OS then closes
// every port still open). One object at a time; the handlers are removed
// when it goes.
class ConsoleInterrupt final : public Interrupt {
  public:
    explicit ConsoleInterrupt(std::string secondText);
    ~ConsoleInterrupt() override;
    ConsoleInterrupt(const ConsoleInterrupt&) = delete;
    ConsoleInterrupt& operator=(const ConsoleInterrupt&) = delete;

    bool requested() const override;
    bool waitUnlessRequested(uint32_t ms) override;
    bool waitForRequestOrWake(uint32_t ms) override;
    void wake() override;
    int exitStatus() const override;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qor
