#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_fd.h"

namespace qor::harness {

// How a child ended, what it printed and what it cost. Its CPU time comes
// from wait4(): the child's alone, apart from its parent's and its siblings'.
struct ProgramResult {
    int exitCode = -1;  // -1 when it did not end by exit() in time
    int signal = 0;     // the signal that ended it, 0 when it exited
    std::string out;    // captured only when its output goes to pipes
    std::string err;
    double userSeconds = 0;
    double systemSeconds = 0;
};

// Another program run as a user would run it, for the tests and the
// benchmark: its own process with no standard input and this process's
// environment with some variables replaced (an empty value removes one).
// Its standard output and error go to pipes read as they fill, or both to
// one file. Never linked into a product program.
class ChildProcess {
  public:
    using Environment = std::map<std::string, std::string>;
    static constexpr std::chrono::milliseconds kNoTimeout = std::chrono::milliseconds::max();

    // `outputFile` empty: the output goes to pipes for waitForOutput(),
    // readLine() and wait(); else both streams are written to that file.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const Environment& overrides, const std::string& outputFile = {});
    // A copy of this process that runs `body` and exits with its result. It
    // shares this process's output and must not rely on locks that other
    // threads may hold at the fork.
    explicit ChildProcess(const std::function<int()>& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    // Why it did not start.
    const std::string& startError() const { return m_startError; }
    void signal(int number) const;
    // Waits until the standard output holds `text`.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // Waits until `seen` holds for the standard output so far.
    bool waitForOutput(const std::function<bool(const std::string&)>& seen,
                       std::chrono::milliseconds timeout);
    // The next line of the standard output without its newline; empty when
    // none came in time or the output ended.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Waits for the end and collects the output; kills it after `timeout`.
    ProgramResult wait(std::chrono::milliseconds timeout = kNoTimeout);

  private:
    void readOutput();

    int m_pid = -1;
    std::string m_startError;
    UniqueFd m_outFd;
    UniqueFd m_errFd;
    std::mutex m_mutex;
    std::condition_variable m_grew;
    std::string m_out;
    std::string m_err;
    std::size_t m_lineStart = 0;  // where readLine() goes on in m_out
    bool m_closed = false;        // both pipes reached their end
    std::thread m_reader;
};

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const ChildProcess::Environment& overrides,
                         std::chrono::milliseconds timeout);

}  // namespace qor::harness
