#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/clock.h"
#include "bench/child_process.h"

extern char** environ;

namespace qor::bench {

namespace {

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// This process's environment with `added` ("NAME=value") put over it.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& added) {
    std::vector<std::string> merged(added);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string& a : added) {
            replaced = replaced || std::string_view(a).starts_with(name);
        }
        if (!replaced) {
            merged.emplace_back(text);
        }
    }
    return merged;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) {
        result.push_back(s.data());
    }
    result.push_back(nullptr);
    return result;
}

}  // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)),
      m_output(std::move(other.m_output)),
      m_pending(std::move(other.m_pending)) {}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        signal(SIGKILL);
        wait();
    }
}

std::optional<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                const std::vector<std::string>& environment,
                                                const std::string& output_file,
                                                std::string& error) {
    ChildProcess child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    UniqueFd pipe_write;
    if (output_file.empty()) {
        int ends[2] = {-1, -1};
        if (pipe2(ends, O_CLOEXEC) != 0) {
            error = std::string("pipe: ") + std::strerror(errno);
            posix_spawn_file_actions_destroy(&actions);
            return std::nullopt;
        }
        child.m_output.reset(ends[0]);
        pipe_write.reset(ends[1]);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    std::vector<std::string> args(argv);
    std::vector<std::string> env = mergedEnvironment(environment);
    const int failed = posix_spawn(&child.m_pid, args.front().c_str(), &actions, nullptr,
                                   pointers(args).data(), pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        child.m_pid = -1;
        error = argv.front() + ": " + std::strerror(failed);
        return std::nullopt;
    }
    return child;
}

std::optional<ChildProcess> ChildProcess::fork(const std::function<int()>& body,
                                               std::string& error) {
    ChildProcess child;
    child.m_pid = ::fork();
    if (child.m_pid < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return std::nullopt;
    }
    if (child.m_pid == 0) {
        _exit(body());
    }
    return child;
}

std::optional<std::string> ChildProcess::readLine(uint32_t timeout_ms) {
    SteadyClock clock;
    const uint32_t start = clock.now_ms();
    for (;;) {
        if (const auto newline = m_pending.find('\n'); newline != std::string::npos) {
            std::string line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            return line;
        }
        const uint32_t spent = clock.now_ms() - start;
        if (!m_output.valid() || spent >= timeout_ms) {
            return std::nullopt;
        }
        pollfd fd{m_output.get(), POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(timeout_ms - spent)) <= 0) {
            continue;
        }
        char buffer[512];
        const ssize_t n = ::read(m_output.get(), buffer, sizeof buffer);
        if (n <= 0) {
            m_output.reset();  // the child closed its output: no more lines
            continue;
        }
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

void ChildProcess::signal(int signal_number) const {
    if (m_pid > 0) {
        ::kill(m_pid, signal_number);
    }
}

ChildExit ChildProcess::wait() {
    ChildExit result;
    if (m_pid <= 0) {
        return result;
    }
    int status = 0;
    rusage usage{};
    while (wait4(m_pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    result.exited = WIFEXITED(status);
    result.code = result.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    result.user_s = seconds(usage.ru_utime);
    result.system_s = seconds(usage.ru_stime);
    return result;
}

}  // namespace qor::bench
