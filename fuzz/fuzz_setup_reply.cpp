// ReadSetupReply over arbitrary bytes at arbitrary times, against what it
// promises: true exactly when the first five bytes to arrive are the reply,
// none of them more than the silence limit after the start or the one before.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/timed_line.h"
#include "update/setup_command.h"
#include "update/setup_handshake.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qor::fuzz::require;
    FuzzedDataProvider input(data, size);
    const std::string reply(qor::SetupReply.begin(), qor::SetupReply.end());
    qor::fuzz::TimedLine line(input, reply, 2 * qor::kSetupReplySilenceMs);

    const auto& arrivals = line.arrivals();
    bool expected = arrivals.size() >= qor::SetupReply.size();
    for (size_t i = 0; expected && i < qor::SetupReply.size(); ++i) {
        expected = arrivals[i].gapMs <= qor::kSetupReplySilenceMs &&
                   arrivals[i].byte == qor::SetupReply[i];
    }

    const uint32_t start = line.clock().now_ms();
    const bool result = qor::ReadSetupReply(line.port(), line.clock());
    const uint32_t elapsed = line.clock().now_ms() - start;
    require(result == expected, "true exactly for the reply in time");
    require(elapsed <= qor::SetupReply.size() * qor::kSetupReplySilenceMs,
            "the wait ends within five silences");
    require(arrivals.size() - line.bytesLeft() <= qor::SetupReply.size(),
            "nothing read past the fifth byte");
    return 0;
}
