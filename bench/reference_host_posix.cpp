#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "base/clock.h"
#include "base/unique_fd.h"
#include "bench/reference_host.h"

namespace qor::bench {

namespace {

// The updater's own silence limit before the first character of an answer.
constexpr int kAnswerMs = 1000;
constexpr uint32_t kMarkerPauseMs = 250;

// One imager's line: a blocking descriptor, one poll() and one read() per
// wait for an answer, and the answer's bytes kept in a fixed buffer.
class Line {
  public:
    bool open(const std::string& path) {
        m_fd.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
        termios tio{};
        if (!m_fd.valid() || tcgetattr(m_fd.get(), &tio) != 0) {
            return false;
        }
        cfmakeraw(&tio);
        cfsetispeed(&tio, B921600);
        cfsetospeed(&tio, B921600);
        return tcsetattr(m_fd.get(), TCSANOW, &tio) == 0;
    }

    bool write(const void* data, std::size_t size) {
        return ::write(m_fd.get(), data, size) == static_cast<ssize_t>(size);
    }
    bool write(std::string_view text) { return write(text.data(), text.size()); }

    // Reads until `token` has come; what came after it stays for the next
    // wait. An answer of more than the buffer holds is not one of the
    // imager's.
    bool waitFor(std::string_view token) {
        for (;;) {
            const std::string_view pending(m_buffer, m_size);
            if (const auto at = pending.find(token); at != std::string_view::npos) {
                m_size -= at + token.size();
                std::memmove(m_buffer, m_buffer + at + token.size(), m_size);
                return true;
            }
            pollfd fd{m_fd.get(), POLLIN, 0};
            if (m_size == sizeof m_buffer || poll(&fd, 1, kAnswerMs) <= 0) {
                return false;
            }
            const ssize_t n = ::read(m_fd.get(), m_buffer + m_size, sizeof m_buffer - m_size);
            if (n <= 0) {
                return false;
            }
            m_size += static_cast<std::size_t>(n);
        }
    }

  private:
    UniqueFd m_fd;
    char m_buffer[256];
    std::size_t m_size = 0;
};

bool update(const std::string& port, const std::vector<uint8_t>& image) {
    Line line;
    if (!line.open(port) || !line.write("%QOR%")) {
        return false;
    }
    SteadyClock().sleep_ms(kMarkerPauseMs);
    uint8_t header[12];
    std::copy(image.begin(), image.begin() + 8, header);
    const auto length = static_cast<uint32_t>(image.size());
    for (int i = 0; i < 4; ++i) {
        header[8 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    if (!line.write("*probe") || !line.waitFor("*echo") || !line.write(header, sizeof header) ||
        !line.waitFor("*echo")) {
        return false;
    }
    for (std::size_t at = 0; at + 1024 <= image.size(); at += 1024) {
        if (!line.write(image.data() + at, 1024) || !line.waitFor("*echo")) {
            return false;
        }
    }
    return line.waitFor("*ack") && line.waitFor("*update") && line.waitFor("*ack");
}

}  // namespace

int runReferenceHost(const std::vector<std::string>& ports, const std::vector<uint8_t>& image) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (const std::string& port : ports) {
        threads.emplace_back([&, port] {
            if (!update(port, image)) {
                ++failures;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace qor::bench
