#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "app/console_platform.h"
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

}  // namespace qor
