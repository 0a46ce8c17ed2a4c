#!/usr/bin/env bash
# Runs the updater against simulated imagers, so that the whole job can be
# seen at once on a machine with no imager attached:
#   - two USB imagers: a fake sysfs tree (QOR_SYSFS_ROOT) lists ttyACM0 and
#     ttyACM1 as CDC ACM ports of vendor 3c7b, product 0e52, and a folder of
#     port links (QOR_PORT_DIR) puts a simulator's pseudo-terminal behind
#     each name;
#   - one RS-232 imager on COM1, listening at 57600 baud;
#   - a valid 256 KiB firmware image in the folder the file dialog opens.
# The simulators stop when the window closes.
#
# With no display, the same demo runs under Xvfb: a scripted user clicks
# through one USB run and the screenshots it takes are saved to the folder
# printed at the end.
#
# QOR_DEMO_IMAGERS=N (1 to 6) attaches N USB imagers instead of two.
# QOR_DEMO_TOP_BAR=PIXELS puts a bar of that height at the top of the Xvfb
# desktop that keeps windows below it, as GNOME's top bar does (needs xlogo
# and xprop from x11-apps and x11-utils).
# QOR_DEMO_SCREEN=WIDTHxHEIGHT sets the Xvfb screen (1024x768 unless given).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
imagers=${QOR_DEMO_IMAGERS:-2}
case "$imagers" in
    [1-6]) ;;
    *) echo "run.sh: QOR_DEMO_IMAGERS must be 1 to 6" >&2; exit 2 ;;
esac
top_bar=${QOR_DEMO_TOP_BAR:-0}
screen=${QOR_DEMO_SCREEN:-1024x768}

scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target qor-updater qor-updater-demo qor-imager-sim
bin="$repo/build/default"

demo=$(mktemp -d "${TMPDIR:-/tmp}/qor-demo.XXXXXX")
simulators=()
cleanup() {
    for pid in "${simulators[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${simulators[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$demo"
}
trap cleanup EXIT

# The simulator lists its USB imagers in a sysfs tree of its own (--sysfs),
# shaped as the kernel shows CDC ACM ports; the program reads it through
# QOR_SYSFS_ROOT.
sysfs="$demo/sys"

# Imagers that take their time as real ones do: a turnaround per 1 KiB
# block, then a check phase (answered within the one second the updater
# waits for it) and a write phase of a few seconds.
ports="$demo/ports"
mkdir -p "$ports"
pace=(--block-delay 25 --check-time 500 --write-time 4000)
"$bin/tools/qor-imager-sim" --count "$imagers" --sysfs "$sysfs" --link "$ports/ttyACM0" \
    "${pace[@]}" >/dev/null &
simulators+=($!)
"$bin/tools/qor-imager-sim" --rs232-baud 57600 --link "$ports/COM1" "${pace[@]}" >/dev/null &
simulators+=($!)
links=(COM1)
for n in $(seq 0 $((imagers - 1))); do
    links+=("ttyACM$n")
done
for link in "${links[@]}"; do
    for _ in $(seq 100); do
        [ -e "$ports/$link" ] && break
        sleep 0.05
    done
    [ -e "$ports/$link" ] || { echo "run.sh: the simulator did not start ($link)" >&2; exit 1; }
done

# A valid image: an accepted magic number, two non-zero header words, and a
# length that is a whole number of 1 KiB blocks.
firmware="$demo/firmware"
mkdir -p "$firmware"
image="$firmware/sample-firmware.bin"
{
    printf '\x45\x01\x69\x53\x01\x00\x00\x00\x00\x00\x04\x00'
    head -c $((256 * 1024 - 12)) /dev/urandom
} >"$image"

export QOR_SYSFS_ROOT="$sysfs"
export QOR_PORT_DIR="$ports"
cd "$firmware"  # where the file dialog opens

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: $imagers USB imager(s) (ttyACM0...) and an RS-232 imager on COM1 at 57600 baud;"
    echo "run.sh: the sample image is $image"
    "$bin/app/qor-updater"
    exit 0
fi

shots="$repo/build/demo-screenshots"
rm -rf "$shots"
mkdir -p "$shots"
echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set):"
echo "run.sh: running the demo under Xvfb; a scripted user clicks through one USB run"
# The top bar is a dock window holding a strut, as a desktop's panel does:
# the window manager then keeps other windows below it.
xvfb-run -a -s "-screen 0 ${screen}x24" bash -c '
    openbox >/dev/null 2>&1 &
    wm=$!
    sleep 0.5
    bar=""
    if [ "$5" -gt 0 ]; then
        xlogo -geometry "${6%x*}x$5+0+0" >/dev/null 2>&1 &
        bar=$!
        id=$(xdotool search --sync --class xlogo | head -1)
        xprop -id "$id" -f _NET_WM_STRUT 32c -set _NET_WM_STRUT "0, 0, $5, 0"
        sleep 0.3
    fi
    "$1" "$2" "$3" "$4"
    status=$?
    kill $bar "$wm" 2>/dev/null
    exit "$status"
' demo "$bin/app/demo/qor-updater-demo" "$image" "$shots" "$imagers" "$top_bar" "$screen"
echo "run.sh: screenshots of the run are in $shots"
