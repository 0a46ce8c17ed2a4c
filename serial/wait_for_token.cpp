#include "serial/wait_for_token.h"

#include <cstring>

namespace qor {

namespace {

constexpr int kWindowSize = 16;

bool isTokenChar(uint8_t byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
           (byte >= 'A' && byte <= 'Z') || byte == '*';
}

}  // namespace

int WaitForToken(const char* token, SerialPort& port, Clock& clock) {
    // A carriage return is stored as NUL: the substring tests stop at it, so
    // whatever follows a line end in one call can never complete a match.
    char window[kWindowSize + 1] = {};
    int count = 0;
    const uint32_t start = clock.now_ms();
    uint32_t last = start;

    for (;;) {
        const uint32_t limit = count == 0 ? kSilenceBeforeFirstMs : kSilenceAfterCharMs;
        const uint32_t quiet = clock.now_ms() - last;
        // Ask the port to wait until just past the limit, so that a silent
        // line costs one wake-up instead of a loop of short reads.
        const uint32_t wait = quiet > limit ? 0 : limit - quiet + 1;
        uint8_t byte = 0;
        if (!port.readByte(byte, wait)) {
            if (clock.now_ms() - last > limit) {
                return kTokenSilence;
            }
            continue;
        }
        last = clock.now_ms();

        if (byte == '\r' || isTokenChar(byte)) {
            window[count] = byte == '\r' ? '\0' : static_cast<char>(byte);
            window[count + 1] = '\0';
            if (std::strstr(window, "*nack") != nullptr) {
                return kTokenNack;
            }
            if (std::strstr(window, "*error") != nullptr) {
                return kTokenError;
            }
            if (std::strstr(window, token) != nullptr) {
                return kTokenSeen;
            }
            if (++count == kWindowSize) {
                return kTokenError;
            }
        }
        if (last - start > kMaxWaitMs) {
            return kTokenSilence;
        }
    }
}

}  // namespace qor
