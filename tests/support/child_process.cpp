#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace qor::testing {

namespace {

std::vector<std::string> mergedEnvironment(const ChildProcess::Environment& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        if (overrides.count(name) == 0) {
            merged.push_back(text);
        }
    }
    for (const auto& [name, value] : overrides) {
        if (!value.empty()) {
            merged.push_back(name + "=" + value);
        }
    }
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (std::string& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Environment& overrides) {
    // Everything the child needs is prepared before the fork: between fork
    // and exec only async-signal-safe calls are allowed.
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = mergedEnvironment(overrides);
    std::vector<char*> argvPointers = pointers(argv);
    std::vector<char*> envpPointers = pointers(envp);

    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(program.c_str(), argvPointers.data(), envpPointers.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    m_reader = std::thread([this] {
        pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
        std::string* sinks[2] = {&m_out, &m_err};
        int open = 2;
        while (open > 0 && ::poll(fds, 2, -1) >= 0) {
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) {
                    continue;
                }
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n > 0) {
                    std::lock_guard lock(m_mutex);
                    sinks[i]->append(buffer, static_cast<size_t>(n));
                    m_grew.notify_all();
                } else {
                    fds[i].fd = -1;  // poll skips negative descriptors
                    --open;
                }
            }
        }
    });
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        wait(std::chrono::milliseconds(5000));
    }
}

void ChildProcess::signal(int number) {
    if (m_pid > 0) {
        ::kill(m_pid, number);
    }
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_grew.wait_for(lock, timeout, [&] { return m_out.find(text) != std::string::npos; });
}

bool ChildProcess::waitForOutput(const std::function<bool(const std::string&)>& seen,
                                 std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_grew.wait_for(lock, timeout, [&] { return seen(m_out); });
}

ProgramResult ChildProcess::wait(std::chrono::milliseconds timeout) {
    ProgramResult result;
    if (m_pid <= 0) {
        return result;
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool killed = false;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline && !killed) {
            ::kill(m_pid, SIGKILL);
            killed = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    if (m_reader.joinable()) {
        m_reader.join();
    }
    ::close(m_outFd);
    ::close(m_errFd);
    result.exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::lock_guard lock(m_mutex);
    result.out = m_out;
    result.err = m_err;
    return result;
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const ChildProcess::Environment& overrides,
                         std::chrono::milliseconds timeout) {
    ChildProcess child(program, args, overrides);
    return child.wait(timeout);
}

}  // namespace qor::testing
