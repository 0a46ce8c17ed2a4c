#include <shlobj.h>
#include <windows.h>

#include <string>

#include "ui/run_log_path.h"

namespace qor {

namespace {

// %LOCALAPPDATA% as the user's session has it; the shell's answer without it.
std::filesystem::path localAppData() {
    const DWORD units = ::GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (units > 1) {
        std::wstring value(units, L'\0');
        const DWORD written = ::GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), units);
        if (written > 0 && written < units) {
            value.resize(written);
            return value;
        }
    }
    PWSTR folder = nullptr;
    std::filesystem::path path;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder))) {
        path = folder;
    }
    ::CoTaskMemFree(folder);  // also when the call failed
    return path;
}

}  // namespace

std::filesystem::path runLogPath() {
    const std::filesystem::path folder = localAppData();
    if (folder.empty()) {
        return {};
    }
    return folder / L"Qor imager updater" / L"runs.csv";
}

}  // namespace qor
