#!/usr/bin/env bash
# The web updater's benchmark: the page in headless Chromium against
# qor-flash on the same simulated 921600 baud wire, and the page's main
# thread during a six-imager run (bench/web_bench.py). Builds the Release
# programs in build/release and the page in build/web. Arguments go to
# web_bench.py (--repeat N). Not part of the test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset default -B build/release -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="-Wno-restrict" -DQOR_BUILD_TESTS=OFF -DQOR_BUILD_QT=OFF >/dev/null
cmake --build build/release --target qor-flash qor-imager-sim
cmake --preset web >/dev/null
cmake --build --preset web --target qor-web

echo "== load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"
exec /usr/bin/python3 bench/web_bench.py "$@"
