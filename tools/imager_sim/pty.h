#pragma once

#include <cstdint>
#include <string>

#include "base/unique_fd.h"

namespace qor::sim {

// A pseudo-terminal standing in for a serial line: the imager holds the
// master, the program under test opens the slave by its path.
class PtyLine {
  public:
    // Opens a new pair. On failure `valid()` is false and `error()` says why.
    PtyLine();

    bool valid() const { return m_master.valid(); }
    int error() const { return m_error; }
    int master() const { return m_master.get(); }
    int slave() const { return m_slave.get(); }
    const std::string& slavePath() const { return m_slave_path; }

    // The rate the host has set on its end, in bits per second; 0 when it is
    // not one the imager knows or the line is gone. Hosts reconfigure the
    // line without the master being told, so callers ask for every read.
    uint32_t hostBaud() const;

    // Closes both ends: the host's reads see the end of the line.
    void hangUp();

  private:
    UniqueFd m_master;
    // Kept open for the life of the line: without an open slave the master
    // reports a hang-up before the program has even opened the port, and the
    // line settings would not outlast the program's close and reopen.
    UniqueFd m_slave;
    std::string m_slave_path;
    int m_error = 0;
};

}  // namespace qor::sim
