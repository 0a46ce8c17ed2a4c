#pragma once

#include <chrono>
#include <string>

#include "tools/imager_sim/pty.h"

namespace qor::testing {

// A pseudo-terminal standing in for a serial line: the test plays the far
// end on the master; the code under test opens slavePath() as its port. The
// line itself is the simulator's: one way of opening ptys for every test.
class PtyPair {
  public:
    PtyPair();

    int master() const { return m_line.master(); }
    const std::string& slavePath() const { return m_line.slavePath(); }

    // Far end: write bytes; read until `count` bytes came or `timeout`
    // passed.
    void send(const std::string& bytes) const;
    std::string receive(std::size_t count,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // True once `count` bytes sent from the far end wait in the port's input
    // queue (the kernel hands them over on its own time).
    bool waitUntilQueued(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    void hangUp() { m_line.hangUp(); }  // as an unplugged device would

  private:
    sim::PtyLine m_line;
};

}  // namespace qor::testing
