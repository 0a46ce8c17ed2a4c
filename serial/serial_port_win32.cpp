#include <windows.h>

#include <string>

#include "base/unique_handle_win32.h"
#include "base/utf16_win32.h"
#include "serial/com_port_name.h"
#include "serial/serial_port.h"
#include "serial/serial_port_win32.h"

namespace qor {

namespace {

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

class Win32SerialPort final : public SerialPort {
  public:
    explicit Win32SerialPort(HANDLE handle) : m_handle(handle) {}

    // With every time-out at 1 ms a one-byte read comes back within about
    // 2 ms whatever `wait_ms` says; the callers loop until their deadline.
    bool readByte(uint8_t& byte, uint32_t /*wait_ms*/) override {
        DWORD got = 0;
        if (!::ReadFile(m_handle.get(), &byte, 1, &got, nullptr)) {
            noteError(::GetLastError());
        }
        return got == 1;
    }

    // The write time-out (n + 1 ms) ends a write that does not drain with a
    // short count and a success result; a short count is a failed write too.
    bool write(std::span<const uint8_t> data) override {
        DWORD written = 0;
        const BOOL ok = ::WriteFile(m_handle.get(), data.data(), static_cast<DWORD>(data.size()),
                                    &written, nullptr);
        if (!ok) {
            noteError(::GetLastError());
        }
        return ok != FALSE && written == data.size();
    }

    void purge() override { ::PurgeComm(m_handle.get(), kPurgeAll); }

    bool gone() const override { return m_gone; }

    HANDLE handle() const { return m_handle.get(); }

  private:
    // What the USB serial driver answers on a handle whose device was
    // removed: the handle never works again, even once the device is back.
    void noteError(DWORD error) {
        switch (error) {
            case ERROR_ACCESS_DENIED:
            case ERROR_BAD_COMMAND:
            case ERROR_GEN_FAILURE:
            case ERROR_FILE_NOT_FOUND:
            case ERROR_DEVICE_NOT_CONNECTED:
            case ERROR_DEVICE_REMOVED:
                m_gone = true;
                break;
            default:
                break;
        }
    }

    UniqueHandle m_handle;
    bool m_gone = false;
};

PortHandle fail(OpenFailure* failure, OpenFailure::Stage stage, DWORD osError) {
    if (failure != nullptr) {
        failure->stage = stage;
        failure->osError = static_cast<int>(osError);
    }
    return nullptr;
}

}  // namespace

void* win32PortHandle(SerialPort& port) {
    auto* win32 = dynamic_cast<Win32SerialPort*>(&port);
    return win32 != nullptr ? win32->handle() : nullptr;
}

PortHandle OpenComPort(std::string_view name, uint32_t baud, OpenFailure* failure) {
    using Stage = OpenFailure::Stage;
    if (failure != nullptr) {
        *failure = OpenFailure{};
        failure->devicePath = "\\\\.\\" + std::string(name);
    }
    const std::wstring wideName = widenUtf8(name);
    const std::u16string path = win32DevicePath(
        std::u16string(reinterpret_cast<const char16_t*>(wideName.data()), wideName.size()));
    if (path.empty()) {
        return fail(failure, Stage::BadName, ERROR_INVALID_NAME);
    }

    // Share mode 0: the port is ours alone while it is open.
    HANDLE raw = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()),
                               GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD openError = ::GetLastError();
    UniqueHandle handle(raw);
    if (!handle.valid()) {
        return fail(failure, openError == ERROR_ACCESS_DENIED ? Stage::InUse : Stage::Open,
                    openError);
    }
    // Some virtual COM drivers hand out a second handle to a port that is
    // already open and only flag it here.
    if (openError == ERROR_ALREADY_EXISTS) {
        return fail(failure, Stage::InUse, openError);
    }

    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    dcb.BaudRate = baud;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!::SetCommState(handle.get(), &dcb)) {
        return fail(failure, Stage::Configure, ::GetLastError());
    }

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = 1;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = 1;
    if (!::SetCommTimeouts(handle.get(), &timeouts)) {
        return fail(failure, Stage::Configure, ::GetLastError());
    }

    ::PurgeComm(handle.get(), kPurgeAll);
    return std::make_unique<Win32SerialPort>(handle.release());
}

}  // namespace qor
