#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "app/console_interrupt.h"

namespace qor {

namespace {

// The console runs its control handler on a thread of its own and passes it
// nothing, so what it needs lives here, set before it is installed.
std::atomic<bool> s_requested{false};
std::atomic<HANDLE> s_wakeEvent{nullptr};
std::atomic<const char*> s_secondText{nullptr};
std::atomic<size_t> s_secondLength{0};

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    if (s_requested.exchange(true)) {
        const char* text = s_secondText.load();
        if (text != nullptr) {
            DWORD written = 0;
            ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text,
                        static_cast<DWORD>(s_secondLength.load()), &written, nullptr);
        }
        std::_Exit(130);
    }
    if (HANDLE event = s_wakeEvent.load()) {
        ::SetEvent(event);
    }
    return TRUE;
}

}  // namespace

struct ConsoleInterrupt::Impl {
    std::string secondText;
    HANDLE wakeEvent = nullptr;  // manual reset: once set, every wait sees it
};

ConsoleInterrupt::ConsoleInterrupt(std::string secondText) : m_impl(std::make_unique<Impl>()) {
    m_impl->secondText = std::move(secondText);
    m_impl->wakeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s_requested.store(false);
    s_secondText.store(m_impl->secondText.c_str());
    s_secondLength.store(m_impl->secondText.size());
    s_wakeEvent.store(m_impl->wakeEvent);
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

ConsoleInterrupt::~ConsoleInterrupt() {
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    s_wakeEvent.store(nullptr);
    s_secondText.store(nullptr);
    if (m_impl->wakeEvent != nullptr) {
        ::CloseHandle(m_impl->wakeEvent);
    }
}

bool ConsoleInterrupt::requested() const {
    return s_requested.load();
}

bool ConsoleInterrupt::waitUnlessRequested(uint32_t ms) {
    if (requested()) {
        return true;
    }
    if (m_impl->wakeEvent != nullptr) {
        ::WaitForSingleObject(m_impl->wakeEvent, ms);
    } else {
        ::Sleep(ms);
    }
    return requested();
}

}  // namespace qor
