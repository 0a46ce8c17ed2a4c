#pragma once

#include <string>

namespace qor::sim {

// A symlink to a simulated port under a name a program expects (a COM port
// in a wine prefix, say), removed again when the object goes.
class PortLink {
  public:
    // Points `link` at `target`. A symlink left behind by an earlier run is
    // replaced; anything else in the way is left alone and the link fails.
    PortLink(std::string link, const std::string& target);
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    bool valid() const { return m_made; }
    int error() const { return m_error; }
    const std::string& path() const { return m_link; }

  private:
    std::string m_link;
    bool m_made = false;
    int m_error = 0;
};

}  // namespace qor::sim
