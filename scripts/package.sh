#!/usr/bin/env bash
# Builds the packages and proves that they install, work and go again.
#
#   scripts/package.sh build   the Debian package (from build/default), the
#                              Windows installer and zip (from build/mingw), by
#                              CPack, and the web updater's zip (build/web),
#                              into build/*/packages/
#   scripts/package.sh check   lintian; the .deb installed with apt, its
#                              programs, manual page and udev rule looked at, a
#                              USB update by the installed qor-flash of two
#                              simulated imagers, then removed, leaving nothing;
#                              the installer run silently under wine, the
#                              installed qor-flash.exe run, then uninstalled;
#                              the web zip's files, served by its serve.py
#   scripts/package.sh         both
#
# With QOR_SIGN_PKCS12 and QOR_SIGN_PASSWORD (packaging/windows/sign.cmake)
# the build signs the Windows programs and the installer, and the check
# verifies every signature, trusting the certificates of QOR_SIGN_VERIFY_CA
# (PEM) when it is given, the system's otherwise.
#
# Installing needs root, or sudo. Run it after the default and mingw builds
# (scripts/test.sh does).
set -euo pipefail
# Files named relative to where the script was started.
for variable in QOR_SIGN_PKCS12 QOR_SIGN_VERIFY_CA; do
    if [ -n "${!variable:-}" ]; then
        export "$variable=$(realpath -- "${!variable}")"
    fi
done
cd "$(dirname "$0")/.."
repo=$(pwd)

version=$(sed -n 's/^project(qor_updater VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
deb="$repo/build/default/packages/qor-updater_${version}_amd64.deb"
installer="$repo/build/mingw/packages/qor-updater-${version}-win64.exe"
zip="$repo/build/mingw/packages/qor-updater-${version}-win64.zip"
web_zip="$repo/build/web/packages/qor-updater-web-${version}.zip"

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
else
    as_root=(sudo)
fi

fail() {
    echo "package: $*" >&2
    exit 1
}

# Waits up to `seconds` for a command to succeed.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# The four numbers of a Windows program's version resource (its fixed file
# information, found by its signature), as 1.2.3.4.
pe_version() {
    local at
    at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
    [ -n "$at" ] || return 1
    od -An -tu2 -j $((at + 8)) -N 8 "$1" | awk '{ print $2 "." $1 "." $4 "." $3 }'
}

build() {
    # The resource script holds the version by hand; the packages take theirs
    # from the project, so the two must agree.
    grep -q "FILEVERSION ${version//./, }\$" res/qor.rc ||
        fail "res/qor.rc's FILEVERSION is not the project's version $version"
    # So must the texts that name it.
    head -n 1 packaging/linux/changelog | grep -qF "($version)" ||
        fail "packaging/linux/changelog's last entry is not version $version"
    grep -qF "<release version=\"$version\"" res/*.metainfo.xml ||
        fail "the metainfo's newest release is not version $version"
    for page in packaging/man/*.1; do
        grep -q "^\.TH .* \"qor-updater $version\"" "$page" || fail "$page is not of version $version"
    done
    cmake --preset default >/dev/null
    cmake --build --preset default
    (cd build/default && cpack -G DEB)
    cmake --preset mingw >/dev/null
    cmake --build --preset mingw
    (cd build/mingw && cpack -G "NSIS;ZIP")
    cmake --preset web >/dev/null
    cmake --build --preset web --target qor-web-zip
}

# The web updater's zip: every file of the site, and its serve.py, unpacked
# elsewhere, serves the page with the headers the page needs.
check_web() (
    [ -f "$web_zip" ] || fail "no $web_zip (scripts/package.sh build)"
    local listing file
    listing=$(cmake -E tar tf "$web_zip")
    for file in index.html updater.js updater.css install.html serve.py qor-updater.svg \
                update-barcode.svg qor-core.js \
                qor-core.wasm qor-core.worker.js LICENSE.txt; do
        grep -q "^qor-updater-web-$version/$file\$" <<<"$listing" || fail "the web zip lacks $file"
    done
    work=$(mktemp -d "${TMPDIR:-/tmp}/qor-package.XXXXXX")
    # shellcheck disable=SC2064 # the folder is known now
    trap "rm -rf '$work'" EXIT
    (cd "$work" && cmake -E tar xf "$web_zip")
    /usr/bin/python3 - "$work/qor-updater-web-$version" <<'PYTHON' || fail "the web zip's serve.py"
import sys, threading, urllib.request
sys.path.insert(0, sys.argv[1])
import serve
server = serve.make_server(sys.argv[1], quiet=True)
threading.Thread(target=server.serve_forever, daemon=True).start()
base = f"http://127.0.0.1:{server.server_address[1]}/"
with urllib.request.urlopen(base) as page:
    assert page.headers["Cross-Origin-Opener-Policy"] == "same-origin", page.headers
    assert page.headers["Cross-Origin-Embedder-Policy"] == "require-corp", page.headers
    assert b"updater.js" in page.read()
with urllib.request.urlopen(base + "qor-core.wasm") as core:
    assert core.headers["Content-Type"] == "application/wasm", core.headers
    assert core.read().startswith(b"\0asm")
server.shutdown()
PYTHON
    echo "package: the web updater's zip holds the site and serves it"
)

# The paths the package holds, one a line, as absolute paths.
package_paths() {
    dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./|/|; s|/$||' | grep -v '^\.\?$'
}

# Of the package's paths, those that exist now.
existing_paths() {
    local path
    while read -r path; do
        if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
    done < <(package_paths)
}

# A USB update of two simulated imagers by the installed programs: the
# installed simulator lists ttyACM0 and ttyACM1 as CDC ACM ports of the
# imager's USB id in a sysfs tree of its own, and its pseudo-terminals stand
# behind those names.
usb_update_check() {
    local work=$1 sysfs=$1/sys ports=$1/ports
    mkdir -p "$ports"
    # A valid image: an accepted magic number, two non-zero header words and
    # a whole number of 1 KiB blocks.
    {
        printf '\x45\x01\x69\x53\x01\x00\x00\x00\x00\x00\x04\x00'
        head -c $((64 * 1024 - 12)) /dev/urandom
    } >"$work/firmware.bin"

    /usr/bin/qor-imager-sim --count 2 --sysfs "$sysfs" --link "$ports/ttyACM0" >/dev/null &
    local simulator=$!
    local status=0
    if wait_for 10 test -e "$ports/ttyACM1" -a -e "$sysfs/class/tty/ttyACM1"; then
        QOR_SYSFS_ROOT="$sysfs" QOR_PORT_DIR="$ports" \
            /usr/bin/qor-flash --json "$work/firmware.bin" >"$work/flash.json" || status=$?
    else
        status=-1
    fi
    kill "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
    ((status == 0)) || { cat "$work/flash.json" >&2 || true; fail "the USB update failed ($status)"; }
    # Read as JSON, not as text: the summary's members may grow.
    tail -n 1 "$work/flash.json" |
        jq -e '.event == "summary" and .exit == 0 and .succeeded == 2 and .count == 2' \
            >/dev/null ||
        fail "the USB update did not update both imagers: $(tail -n 1 "$work/flash.json")"
    echo "package: the installed qor-flash updated two simulated USB imagers"
}

# The printable update barcode at $1 reads as the window's, by the test that
# decodes the window's picture.
barcode_check() {
    local decoder="$repo/build/default/tests/ui/qt/res_pictures_test"
    if [ ! -x "$decoder" ]; then
        echo "package: no $decoder (a build without the window); $1 not decoded"
        return 0
    fi
    QOR_PRINTABLE_BARCODE="$1" QT_QPA_PLATFORM=offscreen "$decoder" \
        --gtest_filter='BarcodePicture.PrintableCopy*' >"$work/barcode.log" 2>&1 ||
        { cat "$work/barcode.log" >&2; fail "$1 does not read as the update barcode"; }
    echo "package: $1 reads as the update barcode"
}

# Each Windows program or installer given carries a valid signature, when
# the build was asked to sign.
signature_check() {
    [ -n "${QOR_SIGN_PKCS12:-}" ] || return 0
    local ca=() file
    [ -z "${QOR_SIGN_VERIFY_CA:-}" ] || ca=(-CAfile "$QOR_SIGN_VERIFY_CA")
    for file in "$@"; do
        osslsigncode verify "${ca[@]}" -in "$file" >"$work/verify.log" 2>&1 ||
            { cat "$work/verify.log" >&2; fail "$(basename "$file") is not signed as it should be"; }
    done
    echo "package: signatures verified: $(for file in "$@"; do basename "$file"; done | tr '\n' ' ')"
}

installed() {
    dpkg-query -W -f='${Status}' qor-updater 2>/dev/null | grep -q " installed"
}

# apt-get with its output kept out of the way unless it fails; dpkg runs the
# maintainer scripts with the PATH that apt gives it (DPkg::Path), which
# may put a folder of stand-ins first.
apt_get() {
    local path=/usr/sbin:/usr/bin:/sbin:/bin log
    if [ "$1" = --path-first ]; then
        path="$2:$path"
        shift 2
    fi
    log=$(mktemp)
    if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
        apt-get -y -q -o DPkg::Path="$path" "$@" >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        fail "apt-get $* failed"
    fi
    rm -f "$log"
}

purge() {
    apt_get "$@" purge qor-updater
}

# In a subshell of its own, whose exit takes the package and the work folder
# away whatever happened.
check_deb() (
    [ -f "$deb" ] || fail "no $deb (scripts/package.sh build)"
    echo "== lintian"
    lintian --fail-on error --info "$deb"

    work=$(mktemp -d "${TMPDIR:-/tmp}/qor-package.XXXXXX")
    # shellcheck disable=SC2064 # the folder is known now
    trap "if installed; then purge; fi; rm -rf '$work'" EXIT

    if installed; then
        echo "package: removing the qor-updater package left by an earlier run"
        purge
    fi
    existing_paths | sort >"$work/before"

    # The maintainer scripts call udevadm when udev runs; a stand-in that
    # answers and writes down its calls shows that they do.
    mkdir -p "$work/bin"
    printf '#!/bin/sh\necho "$*" >>%q\n' "$work/udevadm.log" >"$work/bin/udevadm"
    chmod 755 "$work/bin/udevadm"
    cp "$deb" "$work/"
    chmod 755 "$work"
    echo "== apt-get install ./$(basename "$deb")"
    apt_get --path-first "$work/bin" install "$work/$(basename "$deb")"

    dpkg -L qor-updater | grep -v '^/\.$' | sort >"$work/listed"
    diff <(package_paths | sort) "$work/listed" || fail "dpkg -L differs from the package's contents"
    [ "$(/usr/bin/qor-flash --version)" = "qor-flash (Qor imager updater) $version" ] ||
        fail "qor-flash --version: $(/usr/bin/qor-flash --version)"
    local rule=/usr/lib/udev/rules.d/70-qor-imager.rules
    [ -f "$rule" ] || fail "no udev rule $rule"
    { grep -q 'TAG+="uaccess"' "$rule" && grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$rule"; } ||
        fail "$rule lacks uaccess or ID_MM_DEVICE_IGNORE"
    { grep -qx 'control --reload-rules' "$work/udevadm.log" &&
        grep -q '^trigger ' "$work/udevadm.log"; } ||
        fail "the package did not reload and trigger udev: $(cat "$work/udevadm.log")"
    if grep -rqs 'path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/; then
        echo "package: this machine's dpkg leaves out manual pages; man -w not checked"
    else
        [ "$(man -w qor-flash)" = /usr/share/man/man1/qor-flash.1.gz ] ||
            fail "man -w qor-flash: $(man -w qor-flash 2>&1)"
    fi
    usb_update_check "$work"
    barcode_check /usr/share/qor-updater/update-barcode.png
    [ -f /usr/share/qor-updater/update-barcode.svg ] || fail "no update-barcode.svg installed"

    echo "== apt-get purge qor-updater"
    rm -f "$work/udevadm.log"  # root's, in our folder
    purge --path-first "$work/bin"
    grep -qx 'control --reload-rules' "$work/udevadm.log" ||
        fail "the package's removal did not reload udev's rules"
    ! installed || fail "qor-updater is still installed"
    existing_paths | sort >"$work/after"
    diff "$work/before" "$work/after" || fail "the removal left these behind (lines with >)"
    echo "package: the .deb installed, worked and left nothing behind"
)

# In a subshell of its own, whose exit stops the wine session and takes the
# work folder away.
check_windows() (
    { [ -f "$installer" ] && [ -f "$zip" ]; } || fail "no $installer or zip (scripts/package.sh build)"
    [ "$(pe_version "$installer")" = "$version" ] ||
        fail "the installer's version resource is $(pe_version "$installer"), not $version"
    [ "$(pe_version "$repo/build/mingw/app/qor-updater.exe")" = "$version" ] ||
        fail "qor-updater.exe's version resource is not $version"
    local shipped=(bin/qor-updater.exe bin/qor-flash.exe bin/update-barcode.png
                   bin/update-barcode.svg LICENSE.txt THIRD-PARTY-NOTICES.txt)
    local listing file
    listing=$(cmake -E tar tf "$zip")
    for file in "${shipped[@]}"; do
        grep -q "^qor-updater-$version-win64/$file\$" <<<"$listing" || fail "the zip lacks $file"
    done
    work=$(mktemp -d "${TMPDIR:-/tmp}/qor-package.XXXXXX")
    # shellcheck disable=SC2064 # the folder is known now
    trap "rm -rf '$work'" EXIT
    (cd "$work" && cmake -E tar xf "$zip")
    signature_check "$installer" "$work/qor-updater-$version-win64/bin/"*.exe

    eval "$(scripts/wine-session.sh env)"
    scripts/wine-session.sh start
    # shellcheck disable=SC2064
    trap "scripts/wine-session.sh stop; rm -rf '$work'" EXIT
    local dir="$WINEPREFIX/drive_c/Program Files/Qor imager updater"
    local menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Qor imager updater"
    local key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Qor imager updater'
    [ ! -e "$dir" ] || fail "$dir is there before the installer ran"

    echo "== wine $(basename "$installer") /S"
    wine "$installer" /S </dev/null
    for file in "${shipped[@]}" Uninstall.exe; do
        [ -f "$dir/$file" ] || fail "the installer did not install $file"
    done
    signature_check "$dir/bin/"*.exe
    barcode_check "$dir/bin/update-barcode.png"
    for link in "Qor imager updater" "qor-flash command prompt" Uninstall; do
        [ -f "$menu/$link.lnk" ] || fail "no Start-menu entry \"$link\""
    done
    wine reg query "$key" /v DisplayVersion </dev/null 2>/dev/null | grep -q "REG_SZ *$version" ||
        fail "the uninstall entry does not give version $version"
    local said
    said=$(wine "$dir/bin/qor-flash.exe" --version </dev/null | tr -d '\r')
    [ "$said" = "qor-flash (Qor imager updater) $version" ] ||
        fail "the installed qor-flash.exe --version said: $said"

    # The uninstaller copies itself elsewhere, starts the copy and returns.
    echo "== wine Uninstall.exe /S"
    wine "$dir/Uninstall.exe" /S </dev/null
    wait_for 30 test ! -e "$dir" || fail "the uninstaller left $dir: $(find "$dir")"
    wait_for 10 test ! -e "$menu" || fail "the uninstaller left the Start-menu folder"
    ! wine reg query "$key" </dev/null >/dev/null 2>&1 || fail "the uninstaller left $key"
    echo "package: the Windows installer installed, ran and uninstalled under wine"
)

case "${1:-all}" in
    build) build ;;
    check)
        check_deb
        check_windows
        check_web
        ;;
    all)
        build
        check_deb
        check_windows
        check_web
        ;;
    *)
        echo "usage: $0 [build|check]" >&2
        exit 2
        ;;
esac
