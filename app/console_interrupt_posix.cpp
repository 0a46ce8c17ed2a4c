#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "app/console_interrupt.h"
#include "base/unique_fd.h"

namespace qor {

namespace {

// A signal handler reaches nothing but static storage, so the flag, the
// wake-up pipe and the text for a second Ctrl-C live here, written before
// the handler is installed and cleared after it is removed.
std::atomic<bool> s_requested{false};
std::atomic<int> s_wakeFd{-1};
std::atomic<const char*> s_secondText{nullptr};
std::atomic<size_t> s_secondLength{0};

extern "C" void onInterruptSignal(int) {
    if (s_requested.exchange(true)) {
        const char* text = s_secondText.load();
        if (text != nullptr) {
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, s_secondLength);
        }
        ::_exit(130);
    }
    const int fd = s_wakeFd.load();
    if (fd >= 0) {
        // The byte is never read: the pipe stays readable, so every later
        // wait sees the request at once.
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
}

}  // namespace

struct ConsoleInterrupt::Impl {
    std::string secondText;
    UniqueFd wakeRead;
    UniqueFd wakeWrite;
    struct sigaction previous {};
};

ConsoleInterrupt::ConsoleInterrupt(std::string secondText) : m_impl(std::make_unique<Impl>()) {
    m_impl->secondText = std::move(secondText);
    int fds[2] = {-1, -1};
    if (::pipe(fds) == 0) {
        m_impl->wakeRead = UniqueFd(fds[0]);
        m_impl->wakeWrite = UniqueFd(fds[1]);
        for (const int fd : fds) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, O_NONBLOCK);
        }
    }
    s_requested.store(false);
    s_secondText.store(m_impl->secondText.c_str());
    s_secondLength.store(m_impl->secondText.size());
    s_wakeFd.store(m_impl->wakeWrite.get());

    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART a blocking wait on the main thread returns at once.
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, &m_impl->previous);
}

ConsoleInterrupt::~ConsoleInterrupt() {
    ::sigaction(SIGINT, &m_impl->previous, nullptr);
    s_wakeFd.store(-1);
    s_secondText.store(nullptr);
}

bool ConsoleInterrupt::requested() const {
    return s_requested.load();
}

bool ConsoleInterrupt::waitUnlessRequested(uint32_t ms) {
    if (requested()) {
        return true;
    }
    pollfd pfd{m_impl->wakeRead.get(), POLLIN, 0};
    // An interrupted poll (EINTR) ends the wait early; callers wait again
    // for whatever is left by their own clock.
    ::poll(&pfd, m_impl->wakeRead.valid() ? 1 : 0, static_cast<int>(ms));
    return requested();
}

}  // namespace qor
