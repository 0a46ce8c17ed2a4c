#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace qor::bench {

// The p-th percentile (0 to 100) by the nearest-rank method: a value that
// was measured, never an interpolation between two. 0 for no samples.
template <typename T>
double percentile(std::vector<T> samples, double p) {
    if (samples.empty()) {
        return 0;
    }
    std::sort(samples.begin(), samples.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * samples.size()));
    return static_cast<double>(samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1]);
}

}  // namespace qor::bench
