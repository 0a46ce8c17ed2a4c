#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset: clang with AddressSanitizer
# and UndefinedBehaviorSanitizer) and runs each for SECONDS (300 unless
# given), starting from the seeds in fuzz/corpus/<target>. What a run learns
# is kept in build/fuzz/corpus/<target> for the next run; an input that
# breaks a target is saved in build/fuzz/artifacts/ and the script fails.
# Usage: scripts/fuzz.sh [SECONDS [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
    targets=(wait_for_token setup_reply image_header sysfs_view registry_walk
             console_options console_json)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

mkdir -p build/fuzz/artifacts
# The sysfs and image targets build a tree for every input; memory is
# quicker for that than the disk.
if [ -z "${TMPDIR:-}" ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
failed=()
for target in "${targets[@]}"; do
    program=build/fuzz/fuzz/fuzz_$target
    work=build/fuzz/corpus/$target
    log=build/fuzz/$target.log
    mkdir -p "$work"
    seeds=()
    if [ -d "fuzz/corpus/$target" ]; then
        seeds=("fuzz/corpus/$target")
    fi
    # -timeout: no single input may take a second of real time (the waits
    # run on virtual clocks); a hang is a finding too.
    if "$program" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
        "$work" "${seeds[@]}" >"$log" 2>&1; then
        status=ok
    else
        status=FAILED
        failed+=("$target")
    fi
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
    execs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$log" | grep -oE '[0-9]+$' || echo 0)
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+' <<<"$done_line" || echo "cov: ? ft: ?")
    printf '%-16s %-6s %10s runs  %s  corpus %s\n' "$target" "$status" "$execs" "$cov" \
        "$(find "$work" -type f | wc -l)"
    if [ "$status" != ok ]; then
        grep -E 'invariant broken|ERROR:|runtime error|SUMMARY' "$log" | head -5 >&2 || true
    fi
done

if ((${#failed[@]} > 0)); then
    echo "fuzz: failed: ${failed[*]} (inputs in build/fuzz/artifacts, logs in build/fuzz)" >&2
    exit 1
fi
