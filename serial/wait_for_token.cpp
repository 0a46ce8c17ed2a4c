#include "serial/wait_for_token.h"

#include <string_view>

namespace qor {

namespace {

constexpr int kWindowSize = 16;

bool isTokenChar(uint8_t byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'z') ||
           (byte >= 'A' && byte <= 'Z') || byte == '*';
}

// `text` is never empty here. Its last character settles nearly every
// test, so it is compared first, before the call that compares the rest.
bool endsWith(std::string_view text, std::string_view suffix) {
    return suffix.empty() || (text.back() == suffix.back() && text.ends_with(suffix));
}

}  // namespace

int WaitForToken(const char* token, SerialPort& port, Clock& clock) {
    // A carriage return is stored as NUL: the substring tests stop at it, so
    // whatever follows a line end in one call can never complete a match.
    char window[kWindowSize + 1] = {};
    int count = 0;
    // How much of the window the tests see: everything stored, up to the
    // first carriage return.
    std::size_t seen = 0;
    bool lineEnded = false;
    const std::string_view awaited(token);
    const uint32_t start = clock.now_ms();
    uint32_t last = start;
    // The clock is read after each read of the port that may have waited,
    // not for the bytes the port then hands out from what it read at once:
    // those came with that read, and a reading of the clock costs more than
    // the handling of a byte.
    uint32_t now = start;

    for (;;) {
        const uint32_t limit = count == 0 ? kSilenceBeforeFirstMs : kSilenceAfterCharMs;
        const uint32_t quiet = now - last;
        // Ask the port to wait until just past the limit, so that a silent
        // line costs one wake-up instead of a loop of short reads.
        const uint32_t wait = quiet > limit ? 0 : limit - quiet + 1;
        uint8_t byte = 0;
        const bool atHand = port.hasBuffered();
        if (!port.readByte(byte, wait)) {
            now = clock.now_ms();
            if (now - last > limit) {
                return kTokenSilence;
            }
            continue;
        }
        if (!atHand) {
            now = clock.now_ms();
        }
        last = now;

        if (byte == '\r' || isTokenChar(byte)) {
            window[count] = byte == '\r' ? '\0' : static_cast<char>(byte);
            window[count + 1] = '\0';
            lineEnded = lineEnded || byte == '\r';
            if (!lineEnded) {
                // No test matched before this character, so a match can
                // only end with it: each substring test is a test of the
                // text's end.
                const std::string_view text(window, ++seen);
                if (endsWith(text, "*nack")) {
                    return kTokenNack;
                }
                if (endsWith(text, "*error")) {
                    return kTokenError;
                }
                if (endsWith(text, awaited)) {
                    return kTokenSeen;
                }
            } else if (awaited.empty()) {
                return kTokenSeen;  // an empty text still holds an empty token
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
