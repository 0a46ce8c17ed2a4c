#include "tests/wine/driver/window_probe.h"

#include <iterator>
#include <thread>

namespace qor::driver {

namespace {

constexpr UINT kAnswerTimeoutMs = 10000;

}  // namespace

LRESULT ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                            &result) == 0) {
        return 0;
    }
    return static_cast<LRESULT>(result);
}

std::wstring textOf(HWND window) {
    if (window == nullptr) {
        return {};
    }
    // One message with room for any text the program shows: asking for the
    // length first would race with a worker changing the text in between.
    wchar_t text[1024] = {};
    const auto copied = static_cast<size_t>(
        ask(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text)));
    return std::wstring(text, copied < std::size(text) ? copied : 0);
}

std::wstring itemText(HWND dialog, int id) {
    return textOf(GetDlgItem(dialog, id));
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool itemEnabled(HWND dialog, int id) {
    const HWND item = GetDlgItem(dialog, id);
    return item != nullptr && IsWindowEnabled(item);
}

bool itemVisible(HWND dialog, int id) {
    const HWND item = GetDlgItem(dialog, id);
    return item != nullptr && (GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

int windowHeight(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect.bottom - rect.top;
}

int lineHeight(HWND control) {
    const HDC dc = GetDC(control);
    if (dc == nullptr) {
        return 0;
    }
    const auto font = reinterpret_cast<HFONT>(ask(control, WM_GETFONT));
    const HGDIOBJ previous = SelectObject(dc, font != nullptr ? font : GetStockObject(SYSTEM_FONT));
    TEXTMETRICW metrics{};
    const int height = GetTextMetricsW(dc, &metrics) ? metrics.tmHeight : 0;
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return height;
}

namespace {

struct OwnedSearch {
    HWND owner;
    const std::function<bool(HWND)>* accept;
    HWND found;
};

BOOL CALLBACK visitTopLevel(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<OwnedSearch*>(context);
    if (window != search->owner && IsWindowVisible(window) &&
        GetWindow(window, GW_OWNER) == search->owner && className(window) == L"#32770" &&
        (*search->accept)(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND ownedDialog(HWND owner, const std::function<bool(HWND)>& accept) {
    OwnedSearch search{owner, &accept, nullptr};
    EnumWindows(visitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

namespace {

BOOL CALLBACK findUnpainted(HWND window, LPARAM context) {
    if (GetUpdateRect(window, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(context) = true;
        return FALSE;
    }
    return TRUE;
}

bool hasUnpaintedParts(HWND window) {
    bool unpainted = GetUpdateRect(window, nullptr, FALSE) != 0;
    if (!unpainted) {
        EnumChildWindows(window, findUnpainted, reinterpret_cast<LPARAM>(&unpainted));
    }
    return unpainted;
}

}  // namespace

bool waitPainted(HWND window, std::chrono::milliseconds timeout) {
    const bool painted = waitUntil([&] { return !hasUnpaintedParts(window); }, timeout);
    // A message answered means the thread has been through its loop since.
    ask(window, WM_NULL);
    return painted;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string transcriptText(const std::wstring& text) {
    std::wstring escaped;
    for (wchar_t c : text) {
        switch (c) {
            case L'\\':
                escaped += L"\\\\";
                break;
            case L'\r':
                escaped += L"\\r";
                break;
            case L'\n':
                escaped += L"\\n";
                break;
            default:
                escaped += c;
        }
    }
    if (escaped.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(
        CP_UTF8, 0, escaped.data(), static_cast<int>(escaped.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, escaped.data(), static_cast<int>(escaped.size()), utf8.data(),
                        size, nullptr, nullptr);
    return utf8;
}

}  // namespace qor::driver
