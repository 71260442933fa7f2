#!/usr/bin/env bash
# Times linkprobe-check on the simulated installation, in real time: a good link
# test (fixed waits 1000 + 500 ms) and a good block check (1000 + 500 + 1000 ms).
# Prints the median over several runs of the wall time, the overshoot over the
# fixed waits, the part of it spent inside the check itself ("in check"; the
# rest is the start and exit of the process), and the CPU time (user + sys) as a share of wall.
#
#   bench/run.sh [BUILD_DIR] [RUNS]      default: build/ beside this folder, 5 runs
#
# Builds linkprobe-check first if needed. The user's settings are not touched.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
bin=$build/app/linkprobe-check

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Quiet unless the build fails.
{
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" --target linkprobe-check -j"$(nproc)"
} >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log" >&2; exit 1; }
# The block check saves its block number: keep it out of the user's settings.
export HOME=$scratch XDG_CONFIG_HOME=$scratch/config

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One run: prints "wall_ms cpu_ms check_ms".
measure() {
    local times status
    TIMEFORMAT='%3R %3U %3S'
    times=$( { time "$bin" --simulate "$@" >/dev/null 2>"$scratch/err"; } 2>&1 ) && status=0 || status=$?
    if [ "$status" -ne 0 ]; then
        echo "linkprobe-check --simulate $* ended with status $status:" >&2
        cat "$scratch/err" >&2
        exit 1
    fi
    # The program's own account: "Проверка заняла N мс, ..."
    local check_ms
    check_ms=$(sed -n 's/^Проверка заняла \([0-9]*\) мс.*/\1/p' "$scratch/err")
    awk -v t="$times" -v c="${check_ms:-0}" 'BEGIN { split(t, f, " "); printf "%d %d %d\n", f[1] * 1000 + 0.5, (f[2] + f[3]) * 1000 + 0.5, c }'
}

report() {
    local name=$1 fixed=$2; shift 2
    : >"$scratch/runs"
    for _ in $(seq "$runs"); do
        measure "$@" >>"$scratch/runs"
    done
    local wall cpu check
    wall=$(cut -d' ' -f1 "$scratch/runs" | median)
    cpu=$(cut -d' ' -f2 "$scratch/runs" | median)
    check=$(cut -d' ' -f3 "$scratch/runs" | median)
    awk -v n="$name" -v f="$fixed" -v w="$wall" -v c="$cpu" -v k="$check" 'BEGIN {
        over = w - f; share = 100 * c / w
        printf "%-12s %6d ms %7.0f ms %9.0f ms %9.0f ms %7.0f ms %7.2f %%   %s\n", n, f, w, over, k - f, c, share,
               (over < 30 && share < 3) ? "ok" : "MISSED"
    }'
    echo "  runs (wall cpu check, ms): $(tr '\n' ';' <"$scratch/runs" | sed 's/;$//; s/;/; /g')"
}

echo "linkprobe-check --simulate, real time, median of $runs runs ($bin)"
# Wake-ups come late on a busy machine: the load tells how far to trust the figures.
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) CPUs"
printf "%-12s %9s %10s %12s %12s %10s %9s\n" "" "fixed" "wall" "overshoot" "in check" "CPU" "CPU/wall"
report "link test" 1500 link
report "block check" 2500 block 1
echo "targets: overshoot under 30 ms, CPU under 3 % of wall"
