#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tools/testkit/child_process.h"

namespace qor::testing {

// A private virtual X server (Xvfb on the first free display), gone when the
// object goes, on every path. No window manager: the test needs none, wine
// then draws no frames, and with one (openbox) a message box raised by an
// update worker stayed black in the pictures.
class XDisplay {
  public:
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay&) = delete;
    XDisplay& operator=(const XDisplay&) = delete;

    // Empty when the server did not come up; problem() then says why.
    const std::string& name() const { return m_name; }
    const std::string& problem() const { return m_problem; }

    // Writes a picture of the whole screen to `file` (PNG). The file appears
    // complete or not at all, so a program waiting for it never reads half.
    bool screenshot(const std::filesystem::path& file) const;

  private:
    std::unique_ptr<harness::ChildProcess> m_server;
    std::string m_name;
    std::string m_problem;
};

// True when `program` is on the PATH.
bool haveProgram(const std::string& program);

}  // namespace qor::testing
