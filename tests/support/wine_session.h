#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/testkit/child_process.h"

namespace qor::testing {

// Linux side tests that run the Windows build's programs under wine, in the
// private prefix of the test run's wine session (scripts/wine-session.sh).

// The Windows build's program at `relative` below its build directory, for
// instance "app/qor-flash.exe".
std::string windowsProgram(std::string_view relative);

// Runs a Windows program under wine with the session's environment plus
// `overrides`.
harness::ProgramResult runWindowsProgram(const std::string& program,
                                         const std::vector<std::string>& args,
                                         const harness::ChildProcess::Environment& overrides,
                                         std::chrono::milliseconds timeout);

// The wine command line and environment, for programs that must be driven
// while they run (harness::ChildProcess(wineCommand(), args..., wineEnvironment())).
std::string wineCommand();
harness::ChildProcess::Environment wineEnvironment(
    const harness::ChildProcess::Environment& overrides = {});

// A Linux path as a Windows program sees it (wine maps drive Z: to /).
std::string windowsPath(const std::filesystem::path& path);

// COM<number> of the prefix made to reach `target` (a pty's slave), for the
// life of the object.
class ComPortLink {
  public:
    ComPortLink(int number, const std::string& target);
    ~ComPortLink();
    ComPortLink(const ComPortLink&) = delete;
    ComPortLink& operator=(const ComPortLink&) = delete;

    const std::string& name() const { return m_name; }

  private:
    std::string m_name;
    std::filesystem::path m_link;
};

// Writes the file regedit imports: REGEDIT4 key blocks (without the
// header, lines joined with "\n") with the header and Windows line ends, as
// `name` in `dir`; returns its path.
std::filesystem::path writeRegistryFile(const std::filesystem::path& dir, std::string_view name,
                                        const std::string& blocks);

// Writes registry values below HKEY_LOCAL_MACHINE in one go (REGEDIT4 key
// blocks without the header), true when wine's regedit took them; the keys
// are removed again with removeRegistryKey.
bool importRegistry(const std::string& blocks);
void removeRegistryKey(const std::string& path);

}  // namespace qor::testing
