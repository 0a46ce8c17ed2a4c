#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
# Works as root, or as a user with sudo.
set -euo pipefail

packages=(
    g++ cmake ninja-build ccache pkg-config
    # JSON, written and read (header-only; the Windows build uses it too)
    nlohmann-json3-dev
    libgtest-dev libgmock-dev
    g++-mingw-w64-x86-64-posix
    # The Windows build's tests run under wine; GoogleTest is built for it
    # from the sources of the googletest package
    wine wine64 googletest
    # The Qt window, its tests (offscreen) and the barcode test's decoder;
    # fonts for the Latin and the Chinese texts
    qt6-base-dev libdmtx-dev fonts-dejavu-core fonts-wqy-microhei
    # The demo where there is no display: a virtual X server and a window
    # manager to frame the window; the Windows window's test takes its
    # screenshots with ImageMagick's import
    xvfb xauth openbox imagemagick
    # The packages (scripts/package.sh): CPack's .deb with its dependencies
    # from dpkg-shlibdeps (which needs file), checked by lintian, installed
    # and looked up with man; the Windows installer made by NSIS
    dpkg-dev file lintian man-db qt6-qpa-plugins nsis
    # The Windows programs and installer signed, and the signatures checked,
    # with a certificate that openssl makes for the run
    osslsigncode openssl
    # The fuzz targets: clang and its libFuzzer and sanitizer runtimes
    clang libclang-rt-14-dev
    # The soak reads qor-flash's JSON summaries and looks for stray processes
    jq procps
    # The web page's tests: headless Chromium driven by Selenium, the bridge
    # to the simulated imagers over WebSockets
    chromium chromium-driver python3-selenium python3-websockets
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup: need root or sudo to install: ${missing[*]}" >&2
    exit 1
fi

echo "setup: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
