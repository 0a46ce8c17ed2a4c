#!/usr/bin/env bash
# The benchmark: whole updates of 1 and 6 simulated imagers by qor-flash over
# lines timed like a 921600 baud wire and over raw pseudo-terminals, the same
# by a minimal host for this machine's floor, and the cost of the USB poll's
# count; one table, with every target met or missed. Builds a Release build
# of its own in build/release. Arguments go to qor-bench (--help lists them).
# Not part of the test suite: its figures depend on the machine and its load.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

# GCC 12 at -O3 warns of an overlapping memcpy inside std::string's own
# appends that cannot happen (a known false positive of its -Wrestrict), and
# -Werror makes it fatal: the warning is off for this build only.
cmake --preset default -B build/release -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="-Wno-restrict" -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_QT=OFF >/dev/null
cmake --build build/release --target qor-bench

echo "== load before the run: $(cut -d' ' -f1-3 /proc/loadavg) (figures are only" \
    "worth keeping on a quiet machine)"
exec build/release/bench/qor-bench "$@"
