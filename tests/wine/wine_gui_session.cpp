#include "tests/wine/wine_gui_session.h"

#include <chrono>
#include <cstdio>

#include "tests/support/wine_session.h"

namespace qor::testing {

using harness::ChildProcess;
using harness::runProgram;

namespace {

using namespace std::chrono_literals;

const std::string kSessionScript = std::string(QOR_SOURCE_DIR) + "/scripts/wine-session.sh";
// A new prefix takes a while to create on a busy machine; later starts are quick.
constexpr auto kSessionTimeout = 300s;
constexpr auto kCommandTimeout = 120s;

}  // namespace

WineGuiSession::WineGuiSession(std::filesystem::path prefix, std::string display, int dpi)
    : m_prefix(std::move(prefix)), m_display(std::move(display)) {
    char logPixels[16];
    std::snprintf(logPixels, sizeof logPixels, "%08x", dpi);
    // No window manager runs on the test's display (under one, a box raised
    // on a worker thread stayed black there): wine draws the frames and
    // captions itself, so the screenshots show them. Wine reads the dpi
    // when its server starts, so the server starts again once it is set.
    m_started = startServer() && importRegistry(
                                     "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"
                                     "\"Decorated\"=\"N\"\n\n"
                                     "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\n"
                                     "\"LogPixels\"=dword:" +
                                     std::string(logPixels) + "\n");
    if (m_started) {
        stopServer();
        m_started = startServer();
    }
}

WineGuiSession::~WineGuiSession() {
    stopServer();
}

bool WineGuiSession::startServer() const {
    return runProgram("/bin/bash", {kSessionScript, "start"}, baseEnvironment(), kSessionTimeout)
               .exitCode == 0;
}

void WineGuiSession::stopServer() const {
    runProgram("/bin/bash", {kSessionScript, "stop"}, baseEnvironment(), kCommandTimeout);
    // The server takes a moment to end after it is told to; the next
    // session's server would not start beside it, and its first programs
    // would meet a server on its way out.
    runProgram("/bin/sh", {"-c", "exec wineserver -w </dev/null >/dev/null 2>&1"},
               baseEnvironment(), kCommandTimeout);
}

ChildProcess::Environment WineGuiSession::baseEnvironment() const {
    return {{"WINEPREFIX", m_prefix.string()},
            {"WINEARCH", "win64"},
            {"WINEDEBUG", "-all"},
            {"WINEDLLOVERRIDES", "mscoree,mshtml="},
            {"DISPLAY", m_display},
            {"LANG", "C.UTF-8"},
            {"LC_ALL", "C.UTF-8"},
            {"LANGUAGE", ""}};
}

ChildProcess::Environment WineGuiSession::environment(const std::string& locale) const {
    ChildProcess::Environment environment = baseEnvironment();
    environment["LANG"] = locale;
    environment["LC_ALL"] = locale;
    return environment;
}

bool WineGuiSession::linkComPort(int n, const std::string& target) const {
    const auto link = m_prefix / "dosdevices" / ("com" + std::to_string(n));
    std::error_code error;
    std::filesystem::remove(link, error);
    std::filesystem::create_symlink(target, link, error);
    return !error;
}

bool WineGuiSession::importRegistry(const std::string& blocks) const {
    const auto file = writeRegistryFile(m_prefix, "qor-test.reg", blocks);
    const auto import = start("regedit", {"/S", windowsPath(file)}, "C.UTF-8", true);
    return import->wait(kCommandTimeout).exitCode == 0;
}

std::unique_ptr<ChildProcess> WineGuiSession::start(const std::filesystem::path& program,
                                                    const std::vector<std::string>& args,
                                                    const std::string& locale, bool quiet) const {
    std::vector<std::string> command{
        "-c", quiet ? "exec wine \"$@\" >/dev/null 2>&1" : "exec wine \"$@\"", "wine",
        program.string()};
    command.insert(command.end(), args.begin(), args.end());
    return std::make_unique<ChildProcess>("/bin/sh", command, environment(locale));
}

}  // namespace qor::testing
