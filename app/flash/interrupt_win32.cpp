#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "app/flash/interrupt.h"
#include "base/unique_handle_win32.h"

namespace qor {

namespace {

// The console runs its control handler on a thread of its own and passes it
// nothing, so what it needs lives here, set before it is installed.
// The exit status of the event that asked first; 0 until one has.
std::atomic<int> s_firstStatus{0};
std::atomic<HANDLE> s_wakeEvent{nullptr};
std::atomic<const char*> s_secondText{nullptr};
std::atomic<size_t> s_secondLength{0};

// Ctrl-C and Ctrl-Break as SIGINT; the console window being closed as the
// hang-up of a closed terminal (SIGHUP, 1).
int exitStatusOf(DWORD type) {
    return type == CTRL_CLOSE_EVENT ? 128 + 1 : kCtrlCExitStatus;
}

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    const int status = exitStatusOf(type);
    int none = 0;
    if (!s_firstStatus.compare_exchange_strong(none, status)) {
        const char* text = s_secondText.load();
        if (text != nullptr) {
            DWORD written = 0;
            ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text,
                        static_cast<DWORD>(s_secondLength.load()), &written, nullptr);
        }
        std::_Exit(status);
    }
    if (HANDLE event = s_wakeEvent.load()) {
        ::SetEvent(event);
    }
    if (type == CTRL_CLOSE_EVENT) {
        // Windows ends the process as soon as this returns; waiting here
        // lets the command stop its devices and exit by itself, within the
        // few seconds the system grants before it ends the process anyway.
        ::Sleep(INFINITE);
    }
    return TRUE;
}

}  // namespace

struct ConsoleInterrupt::Impl {
    std::string secondText;
    UniqueHandle wakeEvent;  // manual reset: once set, every wait sees it
    UniqueHandle newsEvent;  // auto reset: wake(), taken by the wait it ends
};

ConsoleInterrupt::ConsoleInterrupt(std::string secondText) : m_impl(std::make_unique<Impl>()) {
    m_impl->secondText = std::move(secondText);
    m_impl->wakeEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_impl->newsEvent.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    s_firstStatus.store(0);
    s_secondText.store(m_impl->secondText.c_str());
    s_secondLength.store(m_impl->secondText.size());
    s_wakeEvent.store(m_impl->wakeEvent.get());
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

ConsoleInterrupt::~ConsoleInterrupt() {
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    s_wakeEvent.store(nullptr);
    s_secondText.store(nullptr);
}

bool ConsoleInterrupt::requested() const {
    return s_firstStatus.load() != 0;
}

int ConsoleInterrupt::exitStatus() const {
    const int status = s_firstStatus.load();
    return status != 0 ? status : kCtrlCExitStatus;
}

bool ConsoleInterrupt::waitUnlessRequested(uint32_t ms) {
    if (requested()) {
        return true;
    }
    if (m_impl->wakeEvent.valid()) {
        ::WaitForSingleObject(m_impl->wakeEvent.get(), ms);
    } else {
        ::Sleep(ms);
    }
    return requested();
}

bool ConsoleInterrupt::waitForRequestOrWake(uint32_t ms) {
    if (requested()) {
        return true;
    }
    if (!m_impl->wakeEvent.valid() || !m_impl->newsEvent.valid()) {
        return waitUnlessRequested(ms);
    }
    const HANDLE events[2] = {m_impl->wakeEvent.get(), m_impl->newsEvent.get()};
    ::WaitForMultipleObjects(2, events, FALSE, ms);
    return requested();
}

void ConsoleInterrupt::wake() {
    if (m_impl->newsEvent.valid()) {
        ::SetEvent(m_impl->newsEvent.get());
    }
}

}  // namespace qor
