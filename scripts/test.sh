#!/usr/bin/env bash
# Runs every test: the Windows cross build with its tests under wine, the
# web build with the core's tests under node, the whole suite in the default
# build (with the Linux side suites that drive the Windows programs under
# wine and the page in headless Chromium), the packages (signed with a throw-away
# certificate, installed and removed), the whole suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded suites under
# ThreadSanitizer, every fuzz target for a while, and a short soak.
# The Windows build goes first: the default build's wine suites run its
# programs. The sanitizer builds leave the wine suites out.
#
#   scripts/test.sh           everything, as CI runs it
#   scripts/test.sh --quick   the default build and its suites without wine
#                             or a browser:
#                             the loop to run while changing code
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
case "${1:-}" in
    --quick) quick=true ;;
    "") ;;
    *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

scripts/setup.sh

if $quick; then
    start=$SECONDS
    cmake --preset default >/dev/null
    cmake --build --preset default
    ctest --preset default --no-tests=error -j"$(nproc)" -LE '^(wine|browser)$'
    echo "== quick: $((SECONDS - start)) s (the full run: scripts/test.sh)"
    exit 0
fi

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

# Before the default build: its browser suites load the page built here.
stage "web (the core in WebAssembly, its tests under node)"
cmake --preset web >/dev/null
cmake --build --preset web
ctest --preset web --no-tests=error
stage_done web

stage "default (with the Linux side wine and browser suites)"
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default --no-tests=error
stage_done default

# The Windows programs and installer are signed as a release would be, with a
# certificate made for this run alone, and every signature is verified.
stage "package (the .deb and the Windows installer, signed, installed and removed again)"
signing=build/signing
rm -rf "$signing" && mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Qor imager updater test signing" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$signing/key.pem" -out "$signing/certificate.pem" 2>"$signing/openssl.log" ||
    { cat "$signing/openssl.log" >&2; exit 1; }
password=$(openssl rand -hex 16)
openssl pkcs12 -export -inkey "$signing/key.pem" -in "$signing/certificate.pem" \
    -out "$signing/signing.p12" -passout "pass:$password"
QOR_SIGN_PKCS12="$signing/signing.p12" QOR_SIGN_PASSWORD="$password" \
    QOR_SIGN_VERIFY_CA="$signing/certificate.pem" scripts/package.sh
rm -rf "$signing"
stage_done package

stage "sanitize"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize
ctest --preset sanitize --no-tests=error -LE '^(wine|browser)$'
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
