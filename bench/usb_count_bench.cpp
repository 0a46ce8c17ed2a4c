#include "bench/usb_count_bench.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "base/clock.h"
#include "bench/stats_math.h"
#include "bench/work_dir.h"
#include "serial/registry_sysfs.h"
#include "serial/usb_discovery.h"

namespace qor::bench {

namespace {

// Calls before the timed ones: the first walks fill the kernel's caches.
constexpr unsigned kWarmUpCalls = 50;

}  // namespace

CountCost measureCountUsbDevices(unsigned imagers, unsigned others, unsigned calls) {
    CountCost cost;
    cost.imagers = imagers;
    cost.others = others;
    cost.calls = calls;
    WorkDir work("qor-bench-sysfs-");
    if (work.path().empty() || !addSysfsImagers(work.path(), imagers) ||
        !addSysfsConsoles(work.path(), others)) {
        cost.error = "cannot lay out a sysfs tree";
        return cost;
    }
    auto registry = openSysfsRegistry(work.path());
    for (unsigned i = 0; i < kWarmUpCalls; ++i) {
        if (CountUsbDevices(*registry) != imagers) {
            cost.error = "CountUsbDevices does not count the tree's imagers";
            return cost;
        }
    }
    SteadyClock clock;
    std::vector<double> samples;
    samples.reserve(calls);
    for (unsigned i = 0; i < calls; ++i) {
        const uint64_t start = clock.now_us();
        const uint8_t count = CountUsbDevices(*registry);
        const uint64_t end = clock.now_us();
        if (count != imagers) {
            cost.error = "CountUsbDevices miscounted during the run";
            return cost;
        }
        samples.push_back(static_cast<double>(end - start));
    }
    cost.mean_us = std::accumulate(samples.begin(), samples.end(), 0.0) / samples.size();
    cost.median_us = percentile(samples, 50);
    cost.p99_us = percentile(samples, 99);
    cost.ok = true;
    return cost;
}

}  // namespace qor::bench
