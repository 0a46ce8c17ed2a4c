// A Windows program for the Linux side's checks of the serial backend under
// wine (com_port_wine_test.cpp): it opens a COM port with OpenComPort and
// reports, one "name=value" line each, what the port holds and how it
// behaves, while the test plays the far end of the line.
//
//   qor-com-probe COM<n> <rate> <flag file>
//
// After the settings it reads once on the still silent line, sends every
// byte value, expects them back in reverse order and answers 'K'. Once the
// far end has hung up (the test then creates the flag file) it goes on
// reading and writing a few times, timing every call.

#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "serial/serial_port_win32.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kExchangeTime = std::chrono::seconds(20);
constexpr int kCallsAfterHangUp = 20;

void report(const char* name, long long value) {
    std::printf("%s=%lld\n", name, value);
    std::fflush(stdout);
}

long long microsecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
}

void reportLineSettings(HANDLE handle) {
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    report("get_comm_state", ::GetCommState(handle, &dcb) ? 1 : 0);
    report("baud", dcb.BaudRate);
    report("byte_size", dcb.ByteSize);
    report("parity", dcb.Parity);
    report("stop_bits", dcb.StopBits);
    report("dtr_control", dcb.fDtrControl);
    report("rts_control", dcb.fRtsControl);
    report("xon_char", dcb.XonChar);
    report("xoff_char", dcb.XoffChar);
    // The bit fields share the word after BaudRate.
    uint32_t flags = 0;
    std::memcpy(&flags,
                reinterpret_cast<const char*>(&dcb) + offsetof(DCB, BaudRate) + sizeof(DWORD),
                sizeof(flags));
    report("flags", flags);

    COMMTIMEOUTS timeouts{};
    report("get_comm_timeouts", ::GetCommTimeouts(handle, &timeouts) ? 1 : 0);
    report("read_interval", timeouts.ReadIntervalTimeout);
    report("read_multiplier", timeouts.ReadTotalTimeoutMultiplier);
    report("read_constant", timeouts.ReadTotalTimeoutConstant);
    report("write_multiplier", timeouts.WriteTotalTimeoutMultiplier);
    report("write_constant", timeouts.WriteTotalTimeoutConstant);
}

// Every byte value there and back: no translation, no flow control bytes
// swallowed.
void exchangeBytes(qor::SerialPort& port) {
    std::vector<uint8_t> values(256);
    std::iota(values.begin(), values.end(), uint8_t{0});
    report("write_all", port.write(values) ? 1 : 0);

    std::string received;
    size_t count = 0;
    const auto deadline = Clock::now() + kExchangeTime;
    uint8_t byte = 0;
    while (count < values.size() && Clock::now() < deadline) {
        if (port.readByte(byte, 1)) {
            ++count;
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", byte);
            received += hex;
        }
    }
    std::printf("received=%s\n", received.c_str());
    report("ack", qor::writeText(port, "K") ? 1 : 0);
}

void exerciseAfterHangUp(qor::SerialPort& port, const char* flagFile) {
    const auto deadline = Clock::now() + kExchangeTime;
    bool hungUp = false;
    while (!hungUp && Clock::now() < deadline) {
        hungUp = ::GetFileAttributesA(flagFile) != INVALID_FILE_ATTRIBUTES;
        ::Sleep(10);
    }
    report("hung_up", hungUp ? 1 : 0);

    int bytes = 0;
    int writes = 0;
    long long longest = 0;
    for (int call = 0; call < kCallsAfterHangUp; ++call) {
        uint8_t byte = 0;
        auto start = Clock::now();
        bytes += port.readByte(byte, 1) ? 1 : 0;
        longest = std::max(longest, microsecondsSince(start));
        start = Clock::now();
        writes += qor::writeText(port, "x") ? 1 : 0;
        longest = std::max(longest, microsecondsSince(start));
    }
    report("bytes_after_hang_up", bytes);
    report("writes_after_hang_up", writes);
    report("longest_call_after_hang_up_us", longest);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: qor-com-probe COM<n> <rate> <flag file>\n");
        return 2;
    }
    qor::OpenFailure failure;
    qor::PortHandle port =
        qor::OpenComPort(argv[1], static_cast<uint32_t>(std::stoul(argv[2])), &failure);
    report("open", port ? 1 : 0);
    if (!port) {
        report("open_error", failure.osError);
        return 1;
    }
    reportLineSettings(static_cast<HANDLE>(qor::win32PortHandle(*port)));

    uint8_t byte = 0;
    const auto start = Clock::now();
    const bool got = port->readByte(byte, 1);
    report("silent_read_us", microsecondsSince(start));
    report("silent_read_got", got ? 1 : 0);

    exchangeBytes(*port);
    exerciseAfterHangUp(*port, argv[3]);
    return 0;
}
