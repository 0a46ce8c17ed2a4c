#include "tests/support/wine_session.h"

#include <fstream>
#include <system_error>

#include "tests/support/temp_dir.h"

namespace qor::testing {

using harness::ChildProcess;
using harness::ProgramResult;
using harness::runProgram;

namespace {

constexpr auto kRegistryTimeout = std::chrono::seconds(60);

}  // namespace

std::string windowsProgram(std::string_view relative) {
    return (std::filesystem::path(QOR_WINDOWS_BUILD_DIR) / relative).string();
}

std::string wineCommand() {
    return QOR_WINE_PROGRAM;
}

ChildProcess::Environment wineEnvironment(const ChildProcess::Environment& overrides) {
    ChildProcess::Environment environment{{"WINEPREFIX", QOR_WINE_PREFIX},
                                          {"WINEARCH", "win64"},
                                          {"WINEDEBUG", "-all"},
                                          {"WINEDLLOVERRIDES", "mscoree,mshtml="},
                                          // Wine reaches non-ASCII file names only in
                                          // a UTF-8 locale; never the caller's.
                                          {"LANG", "C.UTF-8"},
                                          {"LC_ALL", "C.UTF-8"}};
    for (const auto& [name, value] : overrides) {
        environment[name] = value;
    }
    return environment;
}

ProgramResult runWindowsProgram(const std::string& program, const std::vector<std::string>& args,
                                const ChildProcess::Environment& overrides,
                                std::chrono::milliseconds timeout) {
    std::vector<std::string> arguments{program};
    arguments.insert(arguments.end(), args.begin(), args.end());
    return runProgram(wineCommand(), arguments, wineEnvironment(overrides), timeout);
}

std::string windowsPath(const std::filesystem::path& path) {
    std::string text = "Z:" + std::filesystem::absolute(path).string();
    for (char& c : text) {
        if (c == '/') {
            c = '\\';
        }
    }
    return text;
}

ComPortLink::ComPortLink(int number, const std::string& target)
    : m_name("COM" + std::to_string(number)),
      m_link(std::filesystem::path(QOR_WINE_PREFIX) / "dosdevices" /
             ("com" + std::to_string(number))) {
    std::error_code ignored;
    std::filesystem::remove(m_link, ignored);
    std::filesystem::create_symlink(target, m_link);
}

ComPortLink::~ComPortLink() {
    std::error_code ignored;
    std::filesystem::remove(m_link, ignored);
}

std::filesystem::path writeRegistryFile(const std::filesystem::path& dir, std::string_view name,
                                        const std::string& blocks) {
    // regedit wants a REGEDIT4 file with Windows line ends.
    std::string text = "REGEDIT4\r\n\r\n";
    for (char c : blocks) {
        if (c == '\n') {
            text += '\r';
        }
        text += c;
    }
    const auto file = dir / name;
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    return file;
}

bool importRegistry(const std::string& blocks) {
    const TempDir dir;
    const auto file = writeRegistryFile(dir.path(), "imagers.reg", blocks);
    const ProgramResult result =
        runWindowsProgram("regedit", {"/S", windowsPath(file)}, {}, kRegistryTimeout);
    return result.exitCode == 0;
}

void removeRegistryKey(const std::string& path) {
    runWindowsProgram("reg", {"delete", "HKLM\\" + path, "/f"}, {}, kRegistryTimeout);
}

}  // namespace qor::testing
