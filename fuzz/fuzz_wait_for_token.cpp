// WaitForToken over arbitrary byte streams arriving at arbitrary times: the
// result is always one of the four, every call ends within its bound, and a
// call decides where the plain reading of the rules decides.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/timed_line.h"
#include "serial/wait_for_token.h"
#include "update/token_protocol.h"

namespace {

// The longest a call can take: a byte may keep it going until kMaxWaitMs
// have passed, and the one after it may come a whole first-byte limit (and
// the millisecond past it) later.
constexpr uint32_t kBoundMs = qor::kMaxWaitMs + qor::kSilenceBeforeFirstMs + 1;

// The rules read plainly, with no regard for cost: the window is searched
// whole after every stored character. The decision the bytes of one call
// come to, and how many of them it takes; none when they come to none.
struct Decision {
    int result;
    size_t bytes;
};
std::optional<Decision> decide(const std::string& token, const uint8_t* bytes, size_t size) {
    char window[17] = {};
    int count = 0;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(bytes[i]);
        const bool accepted =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '*';
        if (c != '\r' && !accepted) {
            continue;
        }
        window[count] = c == '\r' ? '\0' : c;
        window[count + 1] = '\0';
        if (std::strstr(window, "*nack") != nullptr) {
            return Decision{qor::kTokenNack, i + 1};
        }
        if (std::strstr(window, "*error") != nullptr) {
            return Decision{qor::kTokenError, i + 1};
        }
        if (std::strstr(window, token.c_str()) != nullptr) {
            return Decision{qor::kTokenSeen, i + 1};
        }
        if (++count == 16) {
            return Decision{qor::kTokenError, i + 1};
        }
    }
    return std::nullopt;
}

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
    std::vector<uint8_t> bytes;
    for (const auto& arrival : line.arrivals()) {
        bytes.push_back(arrival.byte);
    }

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
        // Silence may come before the bytes decide; a decision comes with
        // the byte that makes it.
        const size_t read = before - line.bytesLeft();
        const auto decision = decide(token, bytes.data() + (bytes.size() - before), read);
        if (result == qor::kTokenSilence) {
            require(!decision.has_value(), "silence only while the bytes read decide nothing");
        } else {
            require(decision.has_value() && decision->result == result && decision->bytes == read,
                    "the decision the rules make, at the byte that makes it");
        }
    }
    return 0;
}
