#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>

#include "app/flash/interrupt.h"
#include "base/unique_fd.h"

namespace qor {

namespace {

// A signal handler reaches nothing but static storage, so the flag, the
// wake-up pipe and the text for a second Ctrl-C live here, written before
// the handler is installed and cleared after it is removed.
// The signal that asked first; 0 until one has.
std::atomic<int> s_firstSignal{0};
std::atomic<int> s_wakeFd{-1};
std::atomic<const char*> s_secondText{nullptr};
std::atomic<size_t> s_secondLength{0};

// Each is a request to stop: Ctrl-C, a supervisor's SIGTERM, the hang-up of
// a closed terminal.
constexpr std::array<int, 3> kStopSignals = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onInterruptSignal(int signalNumber) {
    int none = 0;
    if (!s_firstSignal.compare_exchange_strong(none, signalNumber)) {
        const char* text = s_secondText.load();
        if (text != nullptr) {
            [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, s_secondLength);
        }
        ::_exit(128 + signalNumber);
    }
    const int fd = s_wakeFd.load();
    if (fd >= 0) {
        // The byte is never read: the pipe stays readable, so every later
        // wait sees the request at once.
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
}

// A pipe whose both ends are close-on-exec and never block.
void openPipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2] = {-1, -1};
    if (::pipe(fds) != 0) {
        return;
    }
    readEnd = UniqueFd(fds[0]);
    writeEnd = UniqueFd(fds[1]);
    for (const int fd : fds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
}

}  // namespace

struct ConsoleInterrupt::Impl {
    std::string secondText;
    UniqueFd wakeRead;
    UniqueFd wakeWrite;
    // wake()'s bytes, read by the waiter that they woke.
    UniqueFd newsRead;
    UniqueFd newsWrite;
    std::array<struct sigaction, kStopSignals.size()> previous{};
};

ConsoleInterrupt::ConsoleInterrupt(std::string secondText) : m_impl(std::make_unique<Impl>()) {
    m_impl->secondText = std::move(secondText);
    openPipe(m_impl->wakeRead, m_impl->wakeWrite);
    openPipe(m_impl->newsRead, m_impl->newsWrite);
    s_firstSignal.store(0);
    s_secondText.store(m_impl->secondText.c_str());
    s_secondLength.store(m_impl->secondText.size());
    s_wakeFd.store(m_impl->wakeWrite.get());

    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    // Without SA_RESTART a blocking wait on the main thread returns at once.
    action.sa_flags = 0;
    // Every stop signal is blocked while the handler runs, so a second one
    // finds the first one's note complete.
    for (const int signalNumber : kStopSignals) {
        sigaddset(&action.sa_mask, signalNumber);
    }
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        ::sigaction(kStopSignals[i], &action, &m_impl->previous[i]);
    }
}

ConsoleInterrupt::~ConsoleInterrupt() {
    for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
        ::sigaction(kStopSignals[i], &m_impl->previous[i], nullptr);
    }
    s_wakeFd.store(-1);
    s_secondText.store(nullptr);
}

bool ConsoleInterrupt::requested() const {
    return s_firstSignal.load() != 0;
}

int ConsoleInterrupt::exitStatus() const {
    const int signalNumber = s_firstSignal.load();
    return signalNumber != 0 ? 128 + signalNumber : kCtrlCExitStatus;
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

bool ConsoleInterrupt::waitForRequestOrWake(uint32_t ms) {
    if (requested()) {
        return true;
    }
    std::array<pollfd, 2> pfds{};
    nfds_t count = 0;
    for (const UniqueFd* fd : {&m_impl->wakeRead, &m_impl->newsRead}) {
        if (fd->valid()) {
            pfds[count++] = pollfd{fd->get(), POLLIN, 0};
        }
    }
    ::poll(pfds.data(), count, static_cast<int>(ms));
    // Every wake-up so far is taken by this wait.
    char bytes[64];
    while (m_impl->newsRead.valid() && ::read(m_impl->newsRead.get(), bytes, sizeof bytes) > 0) {
    }
    return requested();
}

void ConsoleInterrupt::wake() {
    if (m_impl->newsWrite.valid()) {
        // A full pipe already holds a wake-up that has not been taken.
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_impl->newsWrite.get(), &byte, 1);
    }
}

}  // namespace qor
