#pragma once

#include <string>

namespace qor::bench {

// The cost of one CountUsbDevices() call on the sysfs view, which the 250 ms
// poll makes on the user-interface thread.
struct CountCost {
    bool ok = false;
    std::string error;
    unsigned imagers = 0;
    unsigned others = 0;  // ttys beside the imagers
    unsigned calls = 0;
    double median_us = 0;
    double mean_us = 0;
    double p99_us = 0;
};

// Times `calls` calls on a tree of `imagers` imagers and `others` virtual
// consoles.
CountCost measureCountUsbDevices(unsigned imagers, unsigned others, unsigned calls);

}  // namespace qor::bench
