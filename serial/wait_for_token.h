#pragma once

#include <cstdint>

#include "base/clock.h"
#include "serial/serial_port.h"

namespace qor {

// Results of WaitForToken.
inline constexpr int kTokenSeen = 1;
inline constexpr int kTokenSilence = 0;
inline constexpr int kTokenError = -1;  // "*error", or a full window without a match
inline constexpr int kTokenNack = -2;

// Silence limits: before anything has been stored, and once something has.
inline constexpr uint32_t kSilenceBeforeFirstMs = 1000;
inline constexpr uint32_t kSilenceAfterCharMs = 250;

// Every received byte restarts the silence clock, even one that is thrown
// away, so a line that keeps delivering noise could hold a wait for ever.
// The longest real answer is 16 stored characters: the first within 1000 ms,
// each later one within 250 ms of the byte before, 4.75 s in all. Twice that
// ends a wait that can no longer be an answer, as silence.
inline constexpr uint32_t kMaxWaitMs = 10000;

// Reads `port` until its bytes contain `token`, "*nack" or "*error", or it
// falls silent. Keeps nothing between calls and never purges: bytes behind
// the one that decided a call stay in the port for the next one.
int WaitForToken(const char* token, SerialPort& port, Clock& clock);

}  // namespace qor
