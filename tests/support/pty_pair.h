#pragma once

#include <string>

#include "base/unique_fd.h"

namespace qor::testing {

// A pseudo-terminal standing in for a serial line: the test plays the far
// end on the master; the code under test opens slavePath() as its port. A
// slave fd of our own stays open so the line exists before anybody opens it.
class PtyPair {
  public:
    PtyPair();

    int master() const { return m_master.get(); }
    const std::string& slavePath() const { return m_slavePath; }

    // Far end: write bytes, read what arrived within `wait_ms`.
    void send(const std::string& bytes) const;
    std::string receive(int wait_ms) const;
    void hangUp();  // closes the master, as an unplugged device would

  private:
    UniqueFd m_master;
    UniqueFd m_slave;
    std::string m_slavePath;
};

}  // namespace qor::testing
