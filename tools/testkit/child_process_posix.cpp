#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/testkit/child_process.h"

extern char** environ;

namespace qor::harness {

namespace {

std::vector<std::string> mergedEnvironment(const ChildProcess::Environment& overrides) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        if (overrides.count(text.substr(0, text.find('='))) == 0) {
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

double seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The spawn's redirections, released however the start ends.
class SpawnActions {
  public:
    SpawnActions() { posix_spawn_file_actions_init(&m_actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&m_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &m_actions; }

  private:
    posix_spawn_file_actions_t m_actions;
};

bool openPipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    readEnd.reset(ends[0]);
    writeEnd.reset(ends[1]);
    return true;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Environment& overrides, const std::string& outputFile) {
    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    UniqueFd outWrite;
    UniqueFd errWrite;
    if (outputFile.empty()) {
        if (!openPipe(m_outFd, outWrite) || !openPipe(m_errFd, errWrite)) {
            m_startError = std::string("pipe: ") + std::strerror(errno);
            return;
        }
        posix_spawn_file_actions_adddup2(actions.get(), outWrite.get(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), STDERR_FILENO);
    } else {
        posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(actions.get(), STDOUT_FILENO, STDERR_FILENO);
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = mergedEnvironment(overrides);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), actions.get(), nullptr,
                                   pointers(argv).data(), pointers(envp).data());
    if (failed != 0) {
        m_startError = program + ": " + std::strerror(failed);
        m_outFd.reset();
        m_errFd.reset();
        return;
    }
    m_pid = pid;
    if (outputFile.empty()) {
        m_reader = std::thread([this] { readOutput(); });
    }
}

ChildProcess::ChildProcess(const std::function<int()>& body) {
    m_pid = ::fork();
    if (m_pid == 0) {
        ::_exit(body());
    }
    if (m_pid < 0) {
        m_startError = std::string("fork: ") + std::strerror(errno);
    }
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        wait(std::chrono::milliseconds(5000));
    }
}

// Drains both pipes as they fill, so that a chatty child never blocks on a
// full pipe while nobody is looking at its output.
void ChildProcess::readOutput() {
    pollfd fds[2] = {{m_outFd.get(), POLLIN, 0}, {m_errFd.get(), POLLIN, 0}};
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
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_grew.notify_all();
}

void ChildProcess::signal(int number) const {
    if (m_pid > 0) {
        ::kill(m_pid, number);
    }
}

bool ChildProcess::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    return waitForOutput(
        [&](const std::string& out) { return out.find(text) != std::string::npos; }, timeout);
}

bool ChildProcess::waitForOutput(const std::function<bool(const std::string&)>& seen,
                                 std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    m_grew.wait_for(lock, timeout, [&] { return m_closed || seen(m_out); });
    return seen(m_out);
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    const auto complete = [&] { return m_out.find('\n', m_lineStart); };
    m_grew.wait_for(lock, timeout, [&] { return m_closed || complete() != std::string::npos; });
    const std::size_t newline = complete();
    if (newline == std::string::npos) {
        return std::nullopt;
    }
    std::string line = m_out.substr(m_lineStart, newline - m_lineStart);
    m_lineStart = newline + 1;
    return line;
}

ProgramResult ChildProcess::wait(std::chrono::milliseconds timeout) {
    ProgramResult result;
    if (m_pid <= 0) {
        return result;
    }
    int status = 0;
    rusage usage{};
    bool killed = false;
    if (timeout == kNoTimeout) {
        // Blocks, so that the caller learns of the end at once.
        while (::wait4(m_pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
    } else {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (::wait4(m_pid, &status, WNOHANG, &usage) == 0) {
            if (std::chrono::steady_clock::now() > deadline && !killed) {
                ::kill(m_pid, SIGKILL);
                killed = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    m_pid = -1;
    if (m_reader.joinable()) {
        m_reader.join();
    }
    m_outFd.reset();
    m_errFd.reset();
    result.exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.userSeconds = seconds(usage.ru_utime);
    result.systemSeconds = seconds(usage.ru_stime);
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

}  // namespace qor::harness
