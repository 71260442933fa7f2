#!/usr/bin/env bash
# The product's measured performance, in one table, on this machine:
#  - start-up of the window program linkprobe (simulated installation) on a
#    real window system (a virtual X server, Xvfb, through Qt's xcb platform)
#    until its window is shown, timed from outside from exec to its
#    "--startup-report" line, beside the same figure for an empty Qt window
#    (bench/barewindow.cpp), and their ratio; also the program's own count
#    from main() on;
#  - its resident memory a second after the window is shown, beside the
#    empty window's, and their ratio;
#  - linkprobe-check on the simulated installation in real time: link test,
#    block check and a scan of all 32 blocks, each a whole run of the program
#    (start and exit included): wall time, overshoot over the fixed waits, the
#    part of it inside the check itself ("in check", the program's own account)
#    and CPU time (user + sys) as a share of wall;
#  - the peak resident memory of linkprobe-check after 100 and after 10,000
#    rounds of the scan on virtual time (--instant), with and without --json.
#  - with LINKPROBE_WINDOWS_BUILD=BUILD-WIN: the scan of the Windows build
#    under Wine on a pseudo-terminal, beside this build's on the same, one run.
# Each figure is the median of RUNS runs, after one warm-up run that is not
# counted; the two scans take ~3 s and ~18 s a run, and the watch's three
# rounds ~9 s, so they are run SCAN_RUNS times (default 1). Then the watch's
# memory and log over 100 and 10,000 rounds on virtual time, and how long the
# report of 32 blocks (PDF, CSV) adds to a run.
#
#   bench/run.sh [BUILD_DIR] [RUNS] [SCAN_RUNS]    default: build/ beside this folder, 5 runs, 1 scan
#
# Builds linkprobe and linkprobe-check first if needed, and the empty window in
# BUILD_DIR/bench (it is no part of the product's build). The user's settings
# are not touched.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
scan_runs=${3:-1}
app=$build/app/linkprobe
check=$build/app/linkprobe-check
bare=$build/bench/barewindow
for n in "$runs" "$scan_runs"; do
    [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "usage: bench/run.sh [BUILD_DIR] [RUNS] [SCAN_RUNS] (runs: whole numbers from 1)" >&2; exit 64; }
done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Quiet unless the build fails.
{
    [ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build" --target linkprobe linkprobe-check -j"$(nproc)"
    build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")
    [ -f "$build/bench/CMakeCache.txt" ] ||
        cmake -S "$root/bench" -B "$build/bench" -DCMAKE_BUILD_TYPE="${build_type:-RelWithDebInfo}"
    cmake --build "$build/bench" -j"$(nproc)"
} >"$scratch/build.log" 2>&1 || { cat "$scratch/build.log" >&2; exit 1; }
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")

# The block check saves its block number: keep it out of the user's settings.
export HOME=$scratch XDG_CONFIG_HOME=$scratch/config
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    mkdir -m 700 "$scratch/runtime"
    export XDG_RUNTIME_DIR=$scratch/runtime
fi

# A virtual X server of our own, so that both windows are drawn by the same
# real window system whatever display (if any) this shell has.
command -v Xvfb >/dev/null || { echo "bench/run.sh needs Xvfb (package xvfb)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "bench/run.sh needs GNU time (package time)" >&2; exit 1; }
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
for _ in $(seq 50); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || { echo "Xvfb did not start:" >&2; cat "$scratch/xvfb.log" >&2; exit 1; }
export DISPLAY=:$(cat "$scratch/display") QT_QPA_PLATFORM=xcb

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { cut -d' ' -f"$1" "$2" | median; }
# Stamps each line of its input with the time it arrived, in microseconds, and
# the end of the input (the program's exit) as a last line "TIME END".
stamp() {
    local line t
    while IFS= read -r line; do t=$EPOCHREALTIME; printf '%s %s\n' "${t/[.,]/}" "$line"; done
    t=$EPOCHREALTIME
    printf '%s END\n' "${t/[.,]/}"
}

# One start-up: prints "exec_to_shown_ms in_main_ms rss_mb exec_to_exit_ms cpu_ms"
# (the memory a second after the window was shown, the exit a second later too).
# The shell stamps the start before it forks and each line as it arrives, so
# the times also hold the fork and the pipe, together well under a millisecond.
startup() {
    local prog=$1 t0 status
    shift
    TIMEFORMAT='%3U %3S'
    t0=$EPOCHREALTIME
    { time "$prog" "$@" 2>&1 >/dev/null | stamp >"$scratch/lines"; } 2>"$scratch/time" && status=0 || status=$?
    if [ "$status" -ne 0 ] || ! grep -q 'window shown in' "$scratch/lines" || ! grep -q 'resident memory' "$scratch/lines"; then
        echo "$prog $* ended with status $status:" >&2
        grep -v ' END$' "$scratch/lines" | cut -d' ' -f2- >&2
        exit 1
    fi
    awk -v t0="${t0/[.,]/}" -v t="$(cat "$scratch/time")" '
        / window shown in / { shown = $1; main = $6 }
        / resident memory / { rss = $5 }
        / END$/ { end = $1 }
        END {
            split(t, f, " ")
            printf "%d %d %.1f %d %d\n", (shown - t0) / 1000 + 0.5, main, rss, (end - t0) / 1000 + 0.5, (f[1] + f[2]) * 1000 + 0.5
        }' "$scratch/lines"
}

# One run of linkprobe-check: prints "wall_ms cpu_ms check_ms".
check_run() {
    local times status check_ms
    TIMEFORMAT='%3R %3U %3S'
    times=$( { time "$check" --simulate "$@" >/dev/null 2>"$scratch/err"; } 2>&1 ) && status=0 || status=$?
    # 5: a block did not answer, as a scenario with silent blocks means it to.
    if [ "$status" -ne 0 ] && [ "$status" -ne 5 ]; then
        echo "linkprobe-check --simulate $* ended with status $status:" >&2
        cat "$scratch/err" >&2
        exit 1
    fi
    # The program's own account: "Проверка заняла N мс, ..."
    check_ms=$(sed -n 's/^Проверка заняла \([0-9]*\) мс.*/\1/p' "$scratch/err")
    awk -v t="$times" -v c="${check_ms:-0}" 'BEGIN { split(t, f, " "); printf "%d %d %d\n", f[1] * 1000 + 0.5, (f[2] + f[3]) * 1000 + 0.5, c }'
}

row() { printf '%-44s %12s %12s %10s  %s\n' "$@"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v v="$1" -v limit="$2" 'BEGIN { print (v < limit) ? "ok" : "MISSED" }'; }
runs_of() { tr '\n' ';' <"$1" | sed 's/;$//; s/;/; /g'; }

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
echo "linkprobe benchmark, $(date '+%Y-%m-%d %H:%M'), commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo '?')"
echo "machine: ${cpu:-unknown CPU}, $(nproc) CPUs, $(awk '/^MemTotal/ { printf "%.1f GB", $2 / 1048576 }' /proc/meminfo) RAM"
# Wake-ups come late on a busy machine: the load tells how far to trust the figures.
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
qt_dir=$(sed -n 's/^Qt6_DIR:PATH=//p' "$build/CMakeCache.txt")
qt_version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")/\1/p' "$qt_dir/Qt6ConfigVersionImpl.cmake" 2>/dev/null || true)
echo "build: $build ($build_type), Qt ${qt_version:-?}, window system: Xvfb $DISPLAY through QT_QPA_PLATFORM=xcb"

# Warm-up: libraries and fonts into the page cache; not counted.
startup "$app" --simulate --startup-report >/dev/null
startup "$bare" >/dev/null
check_run block 1 >/dev/null

: >"$scratch/app" && : >"$scratch/bare"
for _ in $(seq "$runs"); do   # in turns, so that a change of load hits both alike
    startup "$app" --simulate --startup-report >>"$scratch/app"
    startup "$bare" >>"$scratch/bare"
done
for name in link block; do
    : >"$scratch/$name"
    for _ in $(seq "$runs"); do
        if [ "$name" = block ]; then check_run block 1; else check_run link; fi >>"$scratch/$name"
    done
done
: >"$scratch/scan" && : >"$scratch/scan16"
for _ in $(seq "$scan_runs"); do
    check_run scan >>"$scratch/scan"
    check_run blocks=1-16 scan >>"$scratch/scan16"
done

echo
row "figure (median of $runs runs)" "linkprobe" "bare Qt 6" "target" "verdict"
shown=$(column 1 "$scratch/app")
bare_shown=$(column 1 "$scratch/bare")
rss=$(column 3 "$scratch/app")
bare_rss=$(column 3 "$scratch/bare")
row "window shown, from exec (Xvfb, xcb)" "$shown ms" "$bare_shown ms" "< 150 ms" "$(verdict "$shown" 150)"
row "  ratio to the empty window" "$(ratio "$shown" "$bare_shown")" "" "<= 1.15" "$(verdict "$(ratio "$shown" "$bare_shown")" 1.155)"
row "  of it from main() on (own count)" "$(column 2 "$scratch/app") ms" "$(column 2 "$scratch/bare") ms" "" ""
row "  whole run, exec to exit (1 s shown)" "$(column 4 "$scratch/app") ms" "$(column 4 "$scratch/bare") ms" "" ""
row "  CPU user+sys of the whole run" "$(column 5 "$scratch/app") ms" "$(column 5 "$scratch/bare") ms" "" ""
row "resident memory, 1 s after shown" "$rss MB" "$bare_rss MB" "< 40 MB" "$(verdict "$rss" 40)"
row "  ratio to the empty window" "$(ratio "$rss" "$bare_rss")" "" "<= 1.15" "$(verdict "$(ratio "$rss" "$bare_rss")" 1.155)"

# linkprobe-check rows: name, fixed waits, how many, runs file, whether the CPU target applies.
check_rows() {
    local name=$1 fixed=$2 waits=$3 file=$4 cpu_target=$5 wall cpu own over share
    wall=$(column 1 "$file")
    cpu=$(column 2 "$file")
    own=$(column 3 "$file")
    over=$(awk -v w="$wall" -v f="$fixed" 'BEGIN { print w - f }')
    share=$(awk -v c="$cpu" -v w="$wall" 'BEGIN { printf "%.2f", 100 * c / w }')
    row "$name: wall, fixed waits $fixed ms" "$wall ms" "" "" ""
    row "  overshoot over the fixed waits" "$over ms" "" "< 30 ms" "$(verdict "$over" 30)"
    row "  of it in the check (own account)" "$(awk -v k="$own" -v f="$fixed" 'BEGIN { print k - f }') ms" "" "" ""
    row "  in the check, per wait ($waits waits)" "$(awk -v k="$own" -v f="$fixed" -v n="$waits" 'BEGIN { printf "%.1f", (k - f) / n }') ms" "" "" ""
    if [ "$cpu_target" = yes ]; then
        row "  CPU user+sys, share of wall" "$cpu ms $share %" "" "< 3 %" "$(verdict "$share" 3)"
    else
        row "  CPU user+sys, share of wall" "$cpu ms $share %" "" "" ""
    fi
}
check_rows "link test" 1500 2 "$scratch/link" no
check_rows "block check" 2500 3 "$scratch/block" yes
# The scan ends each reply at its line end: what the line itself needs is
# 1000 ms for the lines to settle and, for each exchange, the query's and the
# reply's bytes at 10 bits a byte at 4800 baud and the installation's 30 ms;
# a silent block has its full 1000 ms. Queries "#AA02" CR LF are 7 bytes,
# "@00BSU" CR LF 8, a block's "@AAT+dd.d" CR LF 11.
line_need() {   # answering blocks, silent blocks
    awk -v a="$1" -v s="$2" 'BEGIN { printf "%d", 1000 + (15 + a * 18) * 10 * 1000 / 4800 + (1 + a) * 30 + s * 1000 }'
}
# The CPU of the scan itself: a whole run's less that of a link test run (the
# program's start and exit, and the link test every scan begins with), over the
# time in the check; the whole run's share is given beside it.
scan_rows() {
    local name=$1 need=$2 file=$3 wall cpu share own own_share
    wall=$(column 1 "$file")
    cpu=$(column 2 "$file")
    share=$(awk -v c="$cpu" -v w="$wall" 'BEGIN { printf "%.2f", 100 * c / w }')
    own=$(awk -v c="$cpu" -v l="$(column 2 "$scratch/link")" 'BEGIN { d = c - l; printf "%d", d < 0 ? 0 : d }')
    own_share=$(awk -v c="$own" -v w="$(column 3 "$file")" 'BEGIN { printf "%.2f", 100 * c / w }')
    row "$name: wall, the line needs $need ms" "$wall ms" "" "" ""
    row "  ratio to what the line needs" "$(ratio "$wall" "$need")" "" "<= 1.2" "$(verdict "$(ratio "$wall" "$need")" 1.205)"
    row "  CPU user+sys of the whole run, share" "$cpu ms $share %" "" "" ""
    row "  CPU of the scan beyond a link test run" "$own ms $own_share %" "" "< 1 %" "$(verdict "$own_share" 1)"
}
scan_rows "scan, 32 answer" "$(line_need 32 0)" "$scratch/scan"
scan_rows "scan, blocks=1-16" "$(line_need 16 16)" "$scratch/scan16"
over16=$(awk -v w="$(column 1 "$scratch/scan16")" -v n="$(line_need 16 16)" 'BEGIN { print w - n }')
row "  beyond the 16 silent seconds and the line" "$over16 ms" "" "< 200 ms" "$(verdict "$over16" 200)"
# A night of rounds: the peak resident memory of 100 and of 10,000 rounds of
# the scan on virtual time must be the same within 5 MB, with and without --json.
rounds_peak_mb() {   # rounds, further options
    local n=$1
    shift
    /usr/bin/time -f '%M' -o "$scratch/peak" "$check" --simulate --instant "$@" --repeat "$n" scan >/dev/null 2>&1 || true
    awk '{ printf "%.1f", $1 / 1024 }' "$scratch/peak"
}
for json in "" --json; do
    few=$(rounds_peak_mb 100 $json)
    many=$(rounds_peak_mb 10000 $json)
    grown=$(awk -v a="$few" -v b="$many" 'BEGIN { printf "%.1f", b - a }')
    row "scan --repeat${json:+ $json}: peak memory, 100 rounds" "$few MB" "" "" ""
    row "  10,000 rounds, grown by" "$many MB" "+$grown MB" "< 5 MB" "$(verdict "$grown" 5)"
done

# The same scan by the Windows build under Wine (LINKPROBE_WINDOWS_BUILD names
# it: the folder with wine-run), beside this build's, one run each: both on a
# pseudo-terminal joined to another (bench/ptyrelay.py) on which this build's
# linkprobe-sim plays the installation; the modem line shim gives DSR and CTS.
# Each figure is the program's own account of its check, Wine's start left out.
wine_scan() {
    local win=$LINKPROBE_WINDOWS_BUILD shim=$build/tests/modemshim/libmodemshim.so a b linux windows
    if [ ! -x "$win/wine-run" ] || [ ! -f "$shim" ]; then
        echo "scan under Wine: left out, it needs $win/wine-run and $shim (a build with tests)"
        return
    fi
    cmake --build "$build" --target linkprobe-sim >/dev/null
    echo $((0x120)) >"$scratch/modemlines"   # TIOCM_DSR | TIOCM_CTS
    python3 "$root/bench/ptyrelay.py" >"$scratch/slaves" &
    relay_pid=$!
    for _ in $(seq 50); do [ -s "$scratch/slaves" ] && break; sleep 0.1; done
    read -r a b <"$scratch/slaves"
    LD_PRELOAD=$shim "$build/app/linkprobe-sim" --port "$b" ok >/dev/null 2>&1 &
    sim_pid=$!
    "$win/wine-run" reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$a" /f >/dev/null 2>&1
    ln -sfn "$a" "$win/wineprefix/dosdevices/com5"
    "$win/wine-run" --restart
    sleep 1
    # A scan on this line takes seconds: a minute means something else holds the line.
    LD_PRELOAD=$shim MODEMSHIM_STATE=$scratch/modemlines timeout 60 "$check" --port "$a" --baud 4800 scan \
        >/dev/null 2>"$scratch/err" || true
    # Only a scan in which everything answered counts: one that failed took another time.
    linux=$(sed -n 's/^Проверка заняла \([0-9]*\) мс, код завершения 0[[:space:]]*$/\1/p' "$scratch/err")
    LD_PRELOAD=$shim MODEMSHIM_STATE=$scratch/modemlines timeout 60 "$win/wine-run" "$win/app/linkprobe-check.exe" \
        --port 5 --baud 4800 scan >/dev/null 2>"$scratch/err" || true
    windows=$(sed -n 's/^Проверка заняла \([0-9]*\) мс, код завершения 0[[:space:]]*$/\1/p' "$scratch/err")
    kill "$sim_pid" "$relay_pid" 2>/dev/null
    wait "$sim_pid" "$relay_pid" 2>/dev/null || true
    row "scan on a pseudo-terminal, Linux build" "${linux:-?} ms" "" "" ""
    row "  Windows build under Wine (COM5)" "${windows:-?} ms" "" "" ""
    if [ -z "$linux" ] || [ -z "$windows" ]; then
        row "  ratio Windows to Linux" "?" "" "<= 1.3" "a scan failed"
        return
    fi
    row "  ratio Windows to Linux" "$(ratio "$windows" "$linux")" "" "<= 1.3" "$(verdict "$(ratio "$windows" "$linux")" 1.305)"
}
[ -n "${LINKPROBE_WINDOWS_BUILD:-}" ] && wine_scan

# The watch: rounds of the link test and the 32 blocks in real time, against
# what the line needs for them; its CPU beyond a link test run's.
watch_rounds=3
: >"$scratch/watch"
for _ in $(seq "$scan_runs"); do check_run --repeat "$watch_rounds" watch >>"$scratch/watch"; done
watch_round=$(awk -v k="$(column 3 "$scratch/watch")" -v n="$watch_rounds" 'BEGIN { printf "%d", k / n }')
watch_need=$(line_need 32 0)
watch_own=$(awk -v c="$(column 2 "$scratch/watch")" -v l="$(column 2 "$scratch/link")" -v k="$(column 3 "$scratch/watch")" \
    'BEGIN { d = c - l; printf "%.2f", 100 * (d < 0 ? 0 : d) / k }')
row "watch, a round of 32 answering blocks" "$watch_round ms" "" "" ""
row "  ratio to what the line needs ($watch_need ms)" "$(ratio "$watch_round" "$watch_need")" "" "<= 1.2" "$(verdict "$(ratio "$watch_round" "$watch_need")" 1.205)"
row "  CPU beyond a link test run, share" "$watch_own %" "" "< 1 %" "$(verdict "$watch_own" 1)"
# Memory and log over a long watch, on virtual time: peak resident memory and
# lines written after 100 and after 10,000 rounds (a flaky block included).
watch_memory() {   # rounds: prints "peak_kB lines"
    python3 -c 'import resource, subprocess, sys
r = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, len(r.stdout.splitlines()))' \
        "$check" --simulate=flaky=5 --instant --repeat "$1" watch
}
read -r mem100 lines100 <<<"$(watch_memory 100)"
read -r mem10k lines10k <<<"$(watch_memory 10000)"
grow=$(awk -v a="$mem100" -v b="$mem10k" 'BEGIN { printf "%.1f", (b - a) / 1024 }')
row "watch memory, 100 / 10,000 rounds (peak)" "$(awk -v a="$mem100" 'BEGIN { printf "%.1f", a / 1024 }') MB" "$(awk -v b="$mem10k" 'BEGIN { printf "%.1f", b / 1024 }') MB" "" ""
row "  growth over 9,900 rounds" "$grow MB" "" "< 5 MB" "$(verdict "$grow" 5)"
row "  log lines after 100 / 10,000 rounds" "$lines100" "$lines10k" "equal" "$([ "$lines100" = "$lines10k" ] && echo ok || echo MISSED)"
# The report of 32 blocks: a whole run on virtual time with and without it.
report_run() {   # file or "": prints wall ms
    local t0=$EPOCHREALTIME t1
    "$check" --simulate=flaky=5 --instant --repeat 10 ${1:+--report "$1"} scan >/dev/null 2>&1 || [ $? -eq 5 ]
    t1=$EPOCHREALTIME
    awk -v a="${t0/[.,]/}" -v b="${t1/[.,]/}" 'BEGIN { printf "%d", (b - a) / 1000 }'
}
: >"$scratch/nopdf" && : >"$scratch/pdf" && : >"$scratch/csv"
for _ in $(seq "$runs"); do
    report_run "" >>"$scratch/nopdf"; echo >>"$scratch/nopdf"
    report_run "$scratch/report.pdf" >>"$scratch/pdf"; echo >>"$scratch/pdf"
    report_run "$scratch/report.csv" >>"$scratch/csv"; echo >>"$scratch/csv"
done
for kind in pdf csv; do
    took=$(awk -v a="$(median <"$scratch/$kind")" -v b="$(median <"$scratch/nopdf")" 'BEGIN { print a - b }')
    row "report of 32 blocks, $kind, beyond the run" "$took ms" "" "< 1000 ms" "$(verdict "$took" 1000)"
done

echo
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "linkprobe-check runs are whole runs of the program (start and exit included); the scan ran $scan_runs time(s)"
echo "(third argument), the other figures are medians of $runs runs after one uncounted warm-up run."
echo "runs, linkprobe start-up (shown, main, MB, whole, CPU): $(runs_of "$scratch/app")"
echo "runs, bare window        (shown, main, MB, whole, CPU): $(runs_of "$scratch/bare")"
echo "runs, link test   (wall, CPU, in check, ms): $(runs_of "$scratch/link")"
echo "runs, block check (wall, CPU, in check, ms): $(runs_of "$scratch/block")"
echo "runs, scan        (wall, CPU, in check, ms): $(runs_of "$scratch/scan")"
echo "runs, scan 1-16   (wall, CPU, in check, ms): $(runs_of "$scratch/scan16")"
echo "runs, watch x$watch_rounds  (wall, CPU, in check, ms): $(runs_of "$scratch/watch")"
