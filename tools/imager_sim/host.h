#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/unique_fd.h"

namespace qor::sim {

// The host's end of a simulated line in a few lines of plain termios, for the
// simulator's self-check and its tests. Deliberately not the updater's own
// serial code: the simulator must be checkable before and apart from it.
class PlainHost {
  public:
    // Opens `path` raw, 8N1, at `baud`. False when the open or the set-up
    // failed; error() then holds the OS error.
    bool open(const std::string& path, uint32_t baud);
    void close() { m_fd.reset(); }
    bool isOpen() const { return m_fd.valid(); }
    int error() const { return m_error; }

    bool write(std::span<const uint8_t> bytes);
    bool write(std::string_view text);

    // Reads until `count` bytes have come or `timeout_ms` has passed.
    std::vector<uint8_t> read(std::size_t count, uint32_t timeout_ms);
    // Reads until what came ends with `tail` or `timeout_ms` has passed;
    // returns everything read.
    std::string readUntil(std::string_view tail, uint32_t timeout_ms);
    // Whatever arrives within `timeout_ms`.
    std::string readFor(uint32_t timeout_ms);
    // True when the far end goes away (end of file or a hang-up) within
    // `timeout_ms`.
    bool waitForHangUp(uint32_t timeout_ms);

  private:
    // Reads into `into` while `more` holds and `timeout_ms` has not passed;
    // false when the line ended.
    bool readWhile(const std::function<bool()>& more, std::vector<uint8_t>& into,
                   uint32_t timeout_ms);
    // Waits for input at most `timeout_ms`; appends what came; false at the
    // end of the line.
    bool readSome(std::vector<uint8_t>& into, uint32_t timeout_ms);

    UniqueFd m_fd;
    SteadyClock m_clock;
    int m_error = 0;
    bool m_hung_up = false;
};

}  // namespace qor::sim
