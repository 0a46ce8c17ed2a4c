#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qor::bench {

// The least any updater can do: one thread per imager that opens its line,
// sends the marker, the probe, the header and every block, and waits for
// each answer with one poll() and one read(), nothing else. Run as a child
// process over the same simulated lines as the updater, its time and CPU
// are this machine's floor for a host that must wake once per block.
// Returns the process exit code: 0 when every imager took the whole image.
int runReferenceHost(const std::vector<std::string>& ports, const std::vector<uint8_t>& image);

}  // namespace qor::bench
