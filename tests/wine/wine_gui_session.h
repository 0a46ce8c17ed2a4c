#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/testkit/child_process.h"

namespace qor::testing {

// Windows programs with windows, under wine on a given X display, in a wine
// prefix of their own (created once, kept in the build tree): its server,
// and with it its desktop process, is started for this display and stopped
// with the object, which also ends every program still running in it. The
// prefix's registry and COM ports are this session's to change, so nothing
// here disturbs the wine tests that share the common prefix. The screen's
// `dpi` is the user's display scaling (96 at 100 %, 144 at 150 %).
class WineGuiSession {
  public:
    WineGuiSession(std::filesystem::path prefix, std::string display, int dpi = 96);
    ~WineGuiSession();
    WineGuiSession(const WineGuiSession&) = delete;
    WineGuiSession& operator=(const WineGuiSession&) = delete;

    bool started() const { return m_started; }

    // The environment for a program of this session; `locale` (for example
    // "zh_CN.UTF-8") picks the user's language as wine reads it.
    harness::ChildProcess::Environment environment(const std::string& locale) const;

    // Makes COM<n> the given serial line (a pty's path).
    bool linkComPort(int n, const std::string& target) const;
    // Imports REGEDIT4 key blocks (as testing::importRegistry takes them)
    // into this session's registry.
    bool importRegistry(const std::string& blocks) const;

    // Starts a Windows program. With `quiet` its output goes nowhere: a
    // program that starts one of wine's own background processes hands its
    // output pipes on to it, and a reader would then wait for ever.
    std::unique_ptr<harness::ChildProcess> start(const std::filesystem::path& program,
                                                 const std::vector<std::string>& args,
                                                 const std::string& locale, bool quiet) const;

  private:
    harness::ChildProcess::Environment baseEnvironment() const;
    bool startServer() const;
    void stopServer() const;

    std::filesystem::path m_prefix;
    std::string m_display;
    bool m_started = false;
};

}  // namespace qor::testing
