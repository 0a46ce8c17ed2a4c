#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace qor {

// One open, configured serial line: 8 data bits, no parity, one stop bit, no
// flow control, DTR and RTS raised. Destroying the object closes the port.
// Each port is used by the one thread that opened it.
class SerialPort {
  public:
    virtual ~SerialPort() = default;

    // Waits at most about `wait_ms` for one byte. Returns true with the byte,
    // false when none came. A failed read counts as no byte: the callers
    // measure silence on their own clock and treat both alike. A backend may
    // come back early without a byte (the Win32 one returns after its 1 ms
    // time-outs), so callers loop until their own deadline has passed.
    // Bytes that arrived but were not asked for yet stay for the next call.
    virtual bool readByte(uint8_t& byte, uint32_t wait_ms) = 0;

    // True when the next readByte() hands out a byte that has already been
    // read from the OS, at once and without a system call. A backend that
    // keeps nothing read ahead says false.
    virtual bool hasBuffered() const { return false; }

    // Writes the whole buffer in one call. False when the OS refused the
    // write or could not take all of it within the line's write time-out.
    virtual bool write(std::span<const uint8_t> data) = 0;

    // Abandons pending transfers and empties both queues, including bytes a
    // backend has read ahead and not yet handed out.
    virtual void purge() = 0;

    // True once the line is known to be gone for good (the device was
    // unplugged, the far end of a pseudo-terminal closed): no byte will ever
    // come again. A backend that cannot tell says false.
    virtual bool gone() const { return false; }
};

using PortHandle = std::unique_ptr<SerialPort>;

inline bool writeText(SerialPort& port, std::string_view text) {
    return port.write(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

// Why an open failed, for diagnostics only: the callers of OpenComPort see an
// empty handle and nothing else.
struct OpenFailure {
    enum class Stage {
        None,
        BadName,    // the name does not fit the device path; nothing was opened
        Open,       // the OS refused to open the device
        InUse,      // somebody else holds the port
        Configure,  // line settings or rate refused; the port was closed again
    };
    Stage stage = Stage::None;
    int osError = 0;         // errno or GetLastError()
    std::string devicePath;  // the path that was tried, when one was formed
};

// The longest port name that fits the device path ("\\.\" + name + NUL in 16
// characters on Windows; the same limit holds on POSIX).
inline constexpr std::size_t kMaxPortNameLength = 11;

// Opens `name` exclusively at `baud` with both queues empty. `name` is the
// platform's short name ("COM7", "ttyACM0"); on POSIX a name starting with
// '/' is a full device path. Returns an empty handle on any failure, with
// nothing left open; `failure`, when given, says why.
PortHandle OpenComPort(std::string_view name, uint32_t baud, OpenFailure* failure = nullptr);

}  // namespace qor
