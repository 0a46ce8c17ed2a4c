#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "app/flash/platform.h"
#include "base/utf16_win32.h"

namespace qor {

void prepareProcess() {}

bool stdoutIsTerminal() {
    // The texts are UTF-8; the console shows them right only when told so.
    ::SetConsoleOutputCP(CP_UTF8);
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == INVALID_HANDLE_VALUE || !::GetConsoleMode(out, &mode)) {
        return false;  // a file or a pipe
    }
    // Consoles older than Windows 10 do not take the cursor controls.
    return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::vector<std::string> commandLineArguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(narrowToUtf8(wide[i]));
    }
    ::LocalFree(wide);
    return arguments;
}

std::string printableBarcodePath() {
    // In the programs' own folder.
    std::wstring program(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
        if (length == 0) {
            return {};
        }
        if (length < program.size()) {
            program.resize(length);
            break;
        }
        program.resize(program.size() * 2);
    }
    const std::wstring file =
        program.substr(0, program.find_last_of(L"\\/") + 1) + L"update-barcode.png";
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    return narrowToUtf8(file);
}

}  // namespace qor
