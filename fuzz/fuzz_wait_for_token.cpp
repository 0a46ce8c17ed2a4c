// WaitForToken over arbitrary byte streams arriving at arbitrary times: the
// result is always one of the four, and every call ends within its bound.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/timed_line.h"
#include "serial/wait_for_token.h"
#include "update/token_protocol.h"

namespace {

// The longest a call can take: a byte may keep it going until kMaxWaitMs
// have passed, and the one after it may come a whole first-byte limit (and
// the millisecond past it) later.
constexpr uint32_t kBoundMs = qor::kMaxWaitMs + qor::kSilenceBeforeFirstMs + 1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qor::fuzz::require;
    FuzzedDataProvider input(data, size);
    const char* const known[] = {qor::tokens::kEcho, qor::tokens::kAck, qor::tokens::kUpdate};
    const size_t choice = input.ConsumeIntegralInRange<size_t>(0, 3);
    const std::string token =
        choice < 3 ? std::string(known[choice]) : input.ConsumeRandomLengthString(20);
    const int calls = input.ConsumeIntegralInRange<int>(1, 4);
    qor::fuzz::TimedLine line(input, "*echoackupdatenrr\r", 1400);

    for (int call = 0; call < calls; ++call) {
        const uint32_t start = line.clock().now_ms();
        const size_t before = line.bytesLeft();
        const int result = qor::WaitForToken(token.c_str(), line.port(), line.clock());
        const uint32_t elapsed = line.clock().now_ms() - start;
        require(result == qor::kTokenSeen || result == qor::kTokenSilence ||
                    result == qor::kTokenError || result == qor::kTokenNack,
                "result is one of 1, 0, -1, -2");
        require(elapsed <= kBoundMs, "the call ends within its bound");
        require(line.bytesLeft() <= before, "no byte comes back");
        // Nothing arriving at all is silence after the first-byte limit.
        if (before == line.bytesLeft()) {
            require(result == qor::kTokenSilence, "no byte read is silence");
        }
    }
    return 0;
}
