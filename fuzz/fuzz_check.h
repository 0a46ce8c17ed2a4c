#pragma once

#include <cstdio>
#include <cstdlib>

namespace qor::fuzz {

// Ends the run as a crash when an invariant breaks, so libFuzzer keeps the
// input that broke it. Works with NDEBUG too, unlike assert().
inline void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

}  // namespace qor::fuzz
