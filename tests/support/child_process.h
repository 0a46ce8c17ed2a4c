#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qor::testing {

// What a finished program left behind.
struct ProgramResult {
    int exitCode = -1;  // -1 when it did not end by itself in time
    std::string out;
    std::string err;
};

// A program run as a user would run it: its own process with pipes for its
// standard output and error, no standard input, and the test's environment
// with some variables replaced (an empty value removes the variable).
class ChildProcess {
  public:
    using Environment = std::map<std::string, std::string>;

    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const Environment& overrides);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return m_pid > 0; }
    void signal(int number);
    // Waits until the program's standard output holds `text`.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // Waits until `seen` holds for the standard output so far.
    bool waitForOutput(const std::function<bool(const std::string&)>& seen,
                       std::chrono::milliseconds timeout);
    // Waits for the end and collects its output; kills it after `timeout`.
    ProgramResult wait(std::chrono::milliseconds timeout);

  private:
    int m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::mutex m_mutex;
    std::condition_variable m_grew;
    std::string m_out;
    std::string m_err;
    std::thread m_reader;
};

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const ChildProcess::Environment& overrides,
                         std::chrono::milliseconds timeout);

}  // namespace qor::testing
