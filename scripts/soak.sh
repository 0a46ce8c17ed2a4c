#!/usr/bin/env bash
# scripts/soak.sh N [SEED]
#
# Runs N consecutive updates through qor-flash, each against 1 to 6
# simulated USB imagers with a random (seeded) mix of healthy and faulty
# behaviour, and checks every device's result in the --json summary
# against the fault it was given. Counts:
#   false successes  a faulty imager reported as updated, or exit 0 with one
#   wrong results    a healthy imager failed, a wrong message, a wrong exit
#   lost results     no summary, a device missing from it, or a hang
#   leaked fds and threads of the long-lived simulators, and qor-flash
#   processes or pty holders left behind after a run
# and prints the time taken. Exits 1 when a false success, a lost result or
# a leak was found. Wrong results are printed but do not fail the soak: the
# protocol's limits (a reply within a second, 250 ms between its bytes) are
# real time, and a machine loaded enough to starve the simulator for longer
# turns a healthy imager into a silent one.
#
# The imagers of most faults live for the whole soak (one qor-imager-sim
# per fault, six imagers each), so their descriptors and threads can be
# compared at the start and the end; an imager that hangs up is gone after
# its run and gets a fresh simulator each time.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

runs=${1:?usage: scripts/soak.sh N [SEED]}
seed=${2:-$(( $(date +%s) % 32768 ))}
bin=${QOR_BUILD_DIR:-$repo/build/default}
[ -x "$bin/app/qor-flash" ] && [ -x "$bin/tools/qor-imager-sim" ] || {
    cmake --preset default >/dev/null
    cmake --build --preset default --target qor-flash qor-imager-sim
}
echo "soak: $runs runs, seed $seed"
RANDOM=$seed

work=$(mktemp -d "${TMPDIR:-/tmp}/qor-soak.XXXXXX")
declare -A pool_pid=()
fresh_pids=()
cleanup() {
    for pid in "${pool_pid[@]}" "${fresh_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# One fake sysfs tree per device count: ttyACM0 .. ttyACM(k-1).
for k in 1 2 3 4 5 6; do
    sysfs="$work/sys$k"
    mkdir -p "$sysfs/class/tty" "$sysfs/bus/usb/drivers/cdc_acm"
    for ((n = 0; n < k; n++)); do
        device="$sysfs/devices/pci0000:00/0000:00:14.0/usb1/1-$((n + 1))"
        interface="$device/1-$((n + 1)):1.0"
        mkdir -p "$interface/tty/ttyACM$n"
        echo 3c7b >"$device/idVendor"
        echo 0e52 >"$device/idProduct"
        ln -sr "$sysfs/bus/usb/drivers/cdc_acm" "$interface/driver"
        ln -sr "$interface" "$interface/tty/ttyACM$n/device"
        ln -sr "$interface/tty/ttyACM$n" "$sysfs/class/tty/ttyACM$n"
    done
done

# A valid 8 KiB image: eight blocks.
image="$work/fw.bin"
{
    printf '\x45\x01\x69\x53\x01\x00\x00\x00\x00\x00\x04\x00'
    head -c $((8 * 1024 - 12)) /dev/urandom
} >"$image"

# Fault name | simulator options | expected result | expected message.
# Weights: a fault is listed as often as it should be drawn. The silent
# ones cost the host a second of waiting each and are drawn less often.
faults=(
    "healthy||succeeded|"
    "healthy||succeeded|"
    "healthy||succeeded|"
    "healthy||succeeded|"
    "noise|--noise-before \\x00# --noise-after \\n|succeeded|"
    "flood|--flood 3|succeeded|"
    "trickle|--trickle 5|succeeded|"
    "probe-nack|--probe nack|failed|Connect Failed"
    "probe-late|--probe-wait 2|succeeded|"
    "header-nack|--header nack|failed|Invalid Firmware !"
    "header-error|--header error|failed|Invalid Firmware !"
    "header-silent|--header silent|failed|Transmit File Failed"
    "block-nack|--block-fault nack --fault-block 3|failed|Transmit File Failed (-2)"
    "block-error|--block-fault error --fault-block 5|failed|Transmit File Failed (-1)"
    "block-silent|--block-fault silent --fault-block 2|failed|Transmit File Failed (0)"
    "ack-nack|--ack nack|failed|File Transmit Failed"
    "update-error|--update error|failed|File Transmit Failed"
    "final-nack|--final nack|failed|Upate Failed"
    "final-error|--final error|failed|Upate Failed"
    "hangup|--block-fault hangup --fault-block 4|failed|Transmit File Failed (0)"
    "hangup|--block-fault hangup --fault-block 0|failed|Transmit File Failed (0)"
    "hangup-update|--write-time 100 --final hangup|failed|Upate Failed"
)

wait_for_link() {
    for _ in $(seq 200); do
        [ -e "$1" ] && return 0
        sleep 0.05
    done
    echo "soak: the simulator did not start ($1)" >&2
    exit 1
}

# The long-lived simulators: one per fault that leaves its imager usable.
declare -A pool_fds=() pool_tasks=()
for entry in "${faults[@]}"; do
    IFS='|' read -r name options _ _ <<<"$entry"
    [[ "$name" == hangup* ]] && continue
    [ -n "${pool_pid[$name]:-}" ] && continue
    mkdir -p "$work/pool/$name"
    # shellcheck disable=SC2086 # the options are words
    "$bin/tools/qor-imager-sim" --count 6 --link "$work/pool/$name/p" $options >/dev/null &
    pool_pid[$name]=$!
    wait_for_link "$work/pool/$name/p5"
done

fd_count() { find "/proc/$1/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
task_count() { find "/proc/$1/task" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }
# The long-lived simulators that died or whose descriptors or threads are no
# longer as many as after the first run; each is named on standard error.
simulator_leaks() {
    local name pid fds tasks changed=0
    for name in "${!pool_pid[@]}"; do
        pid=${pool_pid[$name]}
        if ! kill -0 "$pid" 2>/dev/null; then
            echo "soak: the $name simulator died" >&2
            changed=$((changed + 1))
            continue
        fi
        fds=$(fd_count "$pid")
        tasks=$(task_count "$pid")
        if [ "$fds" -ne "${pool_fds[$name]}" ] || [ "$tasks" -ne "${pool_tasks[$name]}" ]; then
            echo "soak: the $name simulator went from ${pool_fds[$name]} to $fds descriptors," \
                "${pool_tasks[$name]} to $tasks threads" >&2
            changed=$((changed + 1))
        fi
    done
    echo "$changed"
}

false_successes=0
wrong_results=0
lost_results=0
leaks=0
devices_total=0
start=$SECONDS
ports="$work/ports"

for ((run = 1; run <= runs; run++)); do
    count=$((RANDOM % 6 + 1))
    rm -rf "$ports"
    mkdir -p "$ports"
    declare -A used=()
    names=() expect=() messages=() fresh_pids=()
    for ((n = 0; n < count; n++)); do
        IFS='|' read -r name options result message <<<"${faults[RANDOM % ${#faults[@]}]}"
        names+=("$name")
        expect+=("$result")
        messages+=("$message")
        if [[ "$name" == hangup* ]]; then
            # shellcheck disable=SC2086
            "$bin/tools/qor-imager-sim" --link "$work/fresh$n" $options >/dev/null &
            fresh_pids+=($!)
            wait_for_link "$work/fresh$n"
            ln -s "$(readlink "$work/fresh$n")" "$ports/ttyACM$n"
        else
            slot=${used[$name]:-0}
            used[$name]=$((slot + 1))
            ln -s "$(readlink "$work/pool/$name/p$slot")" "$ports/ttyACM$n"
        fi
    done
    unset used

    status=0
    out=$(QOR_SYSFS_ROOT="$work/sys$count" QOR_PORT_DIR="$ports" LANGUAGE=en_US LC_ALL= LANG= \
        timeout 120 "$bin/app/qor-flash" --json "$image" 2>"$work/err") || status=$?
    summary=$(printf '%s\n' "$out" | tail -n 1)
    problems=()
    if [ "$status" -eq 124 ] || ! jq -e '.event == "summary"' >/dev/null 2>&1 <<<"$summary"; then
        lost_results=$((lost_results + count))
        problems+=("no summary (exit $status)")
    else
        any_failed=0
        for ((n = 0; n < count; n++)); do
            devices_total=$((devices_total + 1))
            got=$(jq -r --arg port "ttyACM$n" \
                '[.devices[] | select(.port == $port)] | if length == 1 then .[0].result + "|" + .[0].message else "missing|" end' \
                <<<"$summary")
            IFS='|' read -r result message <<<"$got"
            [ "${expect[n]}" = failed ] && any_failed=1
            if [ "$result" = missing ] || [ "$result" = "" ]; then
                lost_results=$((lost_results + 1))
                problems+=("ttyACM$n (${names[n]}) has no result")
            elif [ "$result" = succeeded ] && [ "${expect[n]}" = failed ]; then
                false_successes=$((false_successes + 1))
                problems+=("ttyACM$n (${names[n]}) reported as updated")
            elif [ "$result" != "${expect[n]}" ] || [ "$message" != "${messages[n]}" ]; then
                wrong_results=$((wrong_results + 1))
                problems+=("ttyACM$n (${names[n]}): $result '$message'")
            fi
        done
        want_exit=$((any_failed ? 1 : 0))
        if [ "$status" -ne "$want_exit" ]; then
            [ "$status" -eq 0 ] && false_successes=$((false_successes + 1)) ||
                wrong_results=$((wrong_results + 1))
            problems+=("exit $status, expected $want_exit")
        fi
    fi
    for pid in "${fresh_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    fresh_pids=()
    # Once per run: nothing may still hold an imager's line after the run.
    if [ -n "$(pgrep -f "^$bin/app/qor-flash" || true)" ]; then
        leaks=$((leaks + 1))
        problems+=("a qor-flash process outlived its run")
    fi
    if [ "$run" -eq 1 ]; then
        # The simulators' own figures once every one of them has served a run.
        for name in "${!pool_pid[@]}"; do
            pool_fds[$name]=$(fd_count "${pool_pid[$name]}")
            pool_tasks[$name]=$(task_count "${pool_pid[$name]}")
        done
    fi
    if [ ${#problems[@]} -ne 0 ]; then
        echo "soak: run $run (${names[*]}): ${problems[*]}" >&2
        sed 's/^/soak:   /' "$work/err" >&2
    fi
    if ((run % 100 == 0)); then
        echo "soak: $run runs, $((SECONDS - start)) s: false successes $false_successes," \
            "wrong results $wrong_results, lost results $lost_results, leaks $leaks," \
            "simulators changed $(simulator_leaks)"
    fi
done

leaks=$((leaks + $(simulator_leaks)))

elapsed=$((SECONDS - start))
echo "soak: $runs runs, $devices_total devices, seed $seed, ${elapsed} s:" \
    "false successes $false_successes, wrong results $wrong_results," \
    "lost results $lost_results, leaks $leaks"
[ $((false_successes + lost_results + leaks)) -eq 0 ]
