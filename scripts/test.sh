#!/usr/bin/env bash
# Runs every test: the whole suite in the default build and again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded suites under
# ThreadSanitizer, and the Windows cross build.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in default sanitize; do
    echo "== ${preset}"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" --no-tests=error
done

echo "== tsan (threaded suites)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan -L threaded

echo "== mingw (Windows cross build)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
