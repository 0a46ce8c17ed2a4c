#pragma once

#include <string>

namespace qor::sim {

struct SelfCheckResult {
    bool passed = false;
    std::string line;  // one line for the user, without a line end
};

// Plays one whole exchange against a simulated imager in this process: opens
// the line as a host would, sends the marker, the probe, a header and two
// blocks, and checks every answer and what the imager recorded.
SelfCheckResult runSelfCheck();

}  // namespace qor::sim
