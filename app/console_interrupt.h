#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace qor {

// A request from the user to stop (Ctrl-C). Once requested it stays so.
class Interrupt {
  public:
    virtual ~Interrupt() = default;
    virtual bool requested() const = 0;
    // Waits up to `ms`, less when an interrupt arrives (or has arrived);
    // returns whether one has.
    virtual bool waitUnlessRequested(uint32_t ms) = 0;
};

// Ctrl-C on the console. The first one is only noted, for the command to
// stop its devices at a safe point; a second one writes `secondText` to
// standard error and ends the process at once with exit status 130 (the OS
// then closes every port still open). One object at a time; the handler is
// removed when it goes.
class ConsoleInterrupt final : public Interrupt {
  public:
    explicit ConsoleInterrupt(std::string secondText);
    ~ConsoleInterrupt() override;
    ConsoleInterrupt(const ConsoleInterrupt&) = delete;
    ConsoleInterrupt& operator=(const ConsoleInterrupt&) = delete;

    bool requested() const override;
    bool waitUnlessRequested(uint32_t ms) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace qor
