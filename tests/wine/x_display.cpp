#include "tests/wine/x_display.h"

#include <signal.h>

#include <chrono>

namespace qor::testing {

using harness::ChildProcess;
using harness::ProgramResult;
using harness::runProgram;

namespace {

using namespace std::chrono_literals;

// Generous: the machine may be busy building while the tests run.
constexpr auto kStartTimeout = 30s;

}  // namespace

bool haveProgram(const std::string& program) {
    return runProgram("/bin/sh", {"-c", "command -v \"$0\" >/dev/null", program}, {}, 10s)
               .exitCode == 0;
}

XDisplay::XDisplay() {
    // -displayfd: the server picks a free display and writes its number
    // once it accepts clients, so there is no guessing and no waiting blind.
    m_server =
        std::make_unique<ChildProcess>("/usr/bin/Xvfb",
                                       std::vector<std::string>{"-displayfd", "1", "-screen", "0",
                                                                "1024x768x24", "-nolisten", "tcp"},
                                       ChildProcess::Environment{});
    std::string number;
    const bool ready = m_server->waitForOutput(
        [&](const std::string& out) {
            if (out.find('\n') == std::string::npos) {
                return false;
            }
            number = out.substr(0, out.find('\n'));
            return true;
        },
        kStartTimeout);
    if (!ready || number.empty()) {
        m_problem = "Xvfb did not start";
        return;
    }
    m_name = ":" + number;
}

XDisplay::~XDisplay() {
    // Asked to end rather than killed, so the server removes its lock file
    // and the display number is free for the next run.
    if (m_server) {
        m_server->signal(SIGTERM);
        m_server->wait(10s);
    }
}

bool XDisplay::screenshot(const std::filesystem::path& file) const {
    const std::filesystem::path partial = file.string() + ".part";
    const ProgramResult shot =
        runProgram("/bin/sh",
                   {"-c", "import -silent -window root \"png:$0\" && mv \"$0\" \"$1\"",
                    partial.string(), file.string()},
                   {{"DISPLAY", m_name}}, 60s);
    return shot.exitCode == 0;
}

}  // namespace qor::testing
