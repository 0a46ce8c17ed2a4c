#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"

namespace qor::bench {

// How a child ended and what it cost: wait4() accounts its CPU alone, apart
// from the benchmark's and from the other children's.
struct ChildExit {
    bool exited = false;  // by exit(), not by a signal
    int code = -1;        // exit code, or the signal's number
    double user_s = 0;
    double system_s = 0;
};

// A program started with a few variables added to this process's
// environment. Its standard output goes to a pipe the benchmark reads, or to
// a file; its standard error to the same file (or stays ours).
class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ~ChildProcess();

    // `output_file` empty: standard output into a pipe for readLine().
    // Empty result when the program cannot be started; `error` says why.
    static std::optional<ChildProcess> start(const std::vector<std::string>& argv,
                                             const std::vector<std::string>& environment,
                                             const std::string& output_file, std::string& error);

    // A copy of this process that runs `body` and exits with its result.
    // Only for a benchmark with no threads of its own yet.
    static std::optional<ChildProcess> fork(const std::function<int()>& body, std::string& error);

    // The next line of the child's output without its newline, waiting at
    // most `timeout_ms`; empty when none came.
    std::optional<std::string> readLine(uint32_t timeout_ms);

    void signal(int signal_number) const;
    // Waits for the child to end.
    ChildExit wait();

  private:
    pid_t m_pid = -1;
    UniqueFd m_output;
    std::string m_pending;
};

}  // namespace qor::bench
