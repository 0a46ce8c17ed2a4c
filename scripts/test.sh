#!/usr/bin/env bash
# Runs every test: the Windows cross build with its tests under wine, the
# whole suite in the default build (with the Linux side suites that drive
# the Windows programs under wine), again under AddressSanitizer +
# UndefinedBehaviorSanitizer, and the threaded suites under ThreadSanitizer.
# The Windows build goes first: the default build's wine suites run its
# programs. The sanitizer builds leave the wine suites out.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

stage_start=$SECONDS
stage() {
    echo "== $1"
    stage_start=$SECONDS
}
stage_done() {
    echo "== $1: $((SECONDS - stage_start)) s"
}

stage "mingw (Windows cross build, tests under wine)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
if [ -x scripts/check-windows-imports.sh ]; then
    scripts/check-windows-imports.sh build/mingw/app/*.exe
fi
ctest --preset mingw --no-tests=error
stage_done mingw

stage "default (with the Linux side wine suites)"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default --no-tests=error
stage_done default

stage "package (the .deb and the Windows installer, installed and removed again)"
scripts/package.sh
stage_done package

stage "sanitize"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize --no-tests=error -LE '^wine$'
stage_done sanitize

stage "tsan (threaded suites)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan -L threaded -LE '^wine$'
stage_done tsan

# Every fuzz target for a short while (scripts/fuzz.sh runs them longer).
stage "fuzz (libFuzzer targets, clang)"
scripts/fuzz.sh "${QOR_FUZZ_SECONDS:-12}"
stage_done fuzz

stage "soak (20 updates through qor-flash, mixed faults)"
scripts/soak.sh 20
stage_done soak
