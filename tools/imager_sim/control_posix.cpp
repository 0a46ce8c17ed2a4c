#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "base/unique_fd.h"
#include "tools/imager_sim/control.h"
#include "tools/imager_sim/rack.h"
#include "tools/imager_sim/stats.h"

namespace qor::sim {

namespace {

void carryOut(const ControlCommand& command, ImagerRack& rack, std::ostream& out) {
    const std::string slot = std::to_string(command.slot);
    std::string error;
    switch (command.kind) {
        case ControlCommand::Kind::None:
            return;
        case ControlCommand::Kind::Invalid:
            out << "error: " << command.error << "\n";
            break;
        case ControlCommand::Kind::Plug:
            if (rack.plug(command.slot, error)) {
                out << "plugged " << slot << " " << rack.imager(command.slot)->portPath() << "\n";
            } else {
                out << "error: plug " << slot << ": " << error << "\n";
            }
            break;
        case ControlCommand::Kind::Unplug:
            if (rack.unplug(command.slot)) {
                out << "unplugged " << slot << "\n";
            } else {
                out << "error: unplug " << slot << ": no such slot\n";
            }
            break;
        case ControlCommand::Kind::Record:
            if (const ImagerSimulator* imager = rack.imager(command.slot)) {
                out << "record " << slot << " "
                    << formatRecordJson(command.slot, imager->portPath(), imager->record()) << "\n";
            } else {
                out << "error: record " << slot << ": no imager in that slot\n";
            }
            break;
    }
    out.flush();
}

// Removes the FIFO this run made, when it goes.
class MadeFifo {
  public:
    explicit MadeFifo(std::string path) : m_path(std::move(path)) {}
    ~MadeFifo() {
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }
    MadeFifo(const MadeFifo&) = delete;
    MadeFifo& operator=(const MadeFifo&) = delete;

  private:
    std::string m_path;
};

}  // namespace

int followControl(const std::string& source, const sigset_t& stopSignals, ImagerRack& rack,
                  std::ostream& out, std::ostream& err) {
    std::string made;
    struct stat existing {};
    if (source != "-" && ::stat(source.c_str(), &existing) != 0) {
        if (::mkfifo(source.c_str(), 0600) != 0) {
            err << "qor-imager-sim: cannot make " << source << ": " << std::strerror(errno) << "\n";
            return -1;
        }
        made = source;
    }
    const MadeFifo fifo(made);
    // Read and write: a FIFO held open by this end too never reports an
    // end when one writer closes, so commands can come from one writer after
    // another.
    UniqueFd owned(source == "-" ? -1 : ::open(source.c_str(), O_RDWR | O_CLOEXEC));
    const int input = source == "-" ? STDIN_FILENO : owned.get();
    if (input < 0) {
        err << "qor-imager-sim: cannot open " << source << ": " << std::strerror(errno) << "\n";
        return -1;
    }
    UniqueFd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (!signals.valid()) {
        err << "qor-imager-sim: signalfd: " << std::strerror(errno) << "\n";
        return -1;
    }
    std::array<pollfd, 2> watched{{{signals.get(), POLLIN, 0}, {input, POLLIN, 0}}};
    std::string pending;
    for (;;) {
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            err << "qor-imager-sim: poll: " << std::strerror(errno) << "\n";
            return -1;
        }
        if (watched[0].revents != 0) {
            signalfd_siginfo info{};
            if (::read(signals.get(), &info, sizeof info) == sizeof info) {
                return static_cast<int>(info.ssi_signo);
            }
        }
        if (watched[1].revents == 0) {
            continue;
        }
        std::array<char, 512> chunk;
        const ssize_t n = ::read(input, chunk.data(), chunk.size());
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            watched[1].fd = -1;  // the end of the commands: wait for the signal alone
            continue;
        }
        pending.append(chunk.data(), static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            carryOut(parseControlLine(std::string_view(pending).substr(0, end)), rack, out);
            pending.erase(0, end + 1);
        }
    }
}

}  // namespace qor::sim
