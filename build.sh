#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds, then runs or tests linkprobe.
#   ./build.sh run [OPTIONS]   start the window; without options on the simulated installation
#                              (without a display: a screenshot to build/linkprobe.png, then exit)
#   ./build.sh test            build and run every test, run them again under the sanitizers,
#                              fuzz the reply path for a minute (FUZZ_SECONDS=N for longer), then
#                              build everything for Windows and run the tests there under Wine
#                              (skipped, with a line that says so, where the Windows kit is not:
#                              see packaging/windows/qt-kit/README.md)
#   ./build.sh windows         build for Windows: installer and zip in build-win/
set -euo pipefail
cd "$(dirname "$0")"

build_deps=(cmake make g++ qt6-base-dev qt6-serialport-dev fonts-liberation)
test_deps=(clang libclang-rt-14-dev desktop-file-utils)
run_deps=(xvfb xauth x11-apps imagemagick)
windows_deps=(g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb nsis)

# Qt for Windows is no Debian package: the Windows stage uses a packed kit
# (packaging/windows/qt-kit/README.md tells what it is and how to make it),
# unpacked at LINKPROBE_QT_MINGW, or else unpacked there from its archive in
# LINKPROBE_WINDOWS_KIT (the folder shared beside this clone by default).
windows_kit=${LINKPROBE_WINDOWS_KIT:-../shared/windows}
windows_archive=$windows_kit/qt6.4.2-mingw-w64-x86_64.tar.xz
qt_windows=${LINKPROBE_QT_MINGW:-/opt/qt6-mingw}
windows_toolchain=$PWD/packaging/windows/qt-kit/mingw-w64.cmake

install_missing() {
    local missing=()
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}" >&2
    if [ "$(id -u)" -ne 0 ]; then
        echo "These packages are missing; run as root or install them: ${missing[*]}" >&2
        exit 1
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Every build compiles our sources in batches (a unity build): each batch
# parses Qt's headers once instead of once a file, a quarter off the time.
unity=-DCMAKE_UNITY_BUILD=ON

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$unity" "$@" >/dev/null
    cmake --build build -j"$(nproc)"
}

# The tests of a Linux build, then each skip with the reason its test
# printed: a skip not in tests/skips-allowed.txt fails the stage, so a test
# that could not run where it should is never counted as passed.
linux_tests() {
    local dir=$1 status=0
    shift
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" "$@" || status=1
    tests/check-skips.sh "$dir/Testing/Temporary/LastTest.log" || status=1
    return "$status"
}

# Runs one step of the test run and tells how long it took.
stage() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name" >&2
    "$@"
    echo "== $name: $((SECONDS - start)) s" >&2
}

# A test stage mostly waits, on its timers, pseudo-terminals and Wine: the next
# build goes on beside it, at the lowest priority so that the tests keep their
# timing. Its output goes to a log, shown when it fails. One at a time:
#   beside NAME LOG [nice] COMMAND...   then   joined
beside() {
    beside_name=$1 beside_log=$2 beside_start=$SECONDS
    shift 2
    echo "== $beside_name, beside the next stage" >&2
    local niced=no
    [ "$1" = nice ] && niced=yes && shift
    (
        [ $niced = yes ] && renice -n 19 -p "$BASHPID" >/dev/null
        "$@"
    ) >"$beside_log" 2>&1 &
    beside_pid=$!
}
joined() {
    local status=0
    wait "$beside_pid" || status=$?
    beside_pid=
    if [ $status -ne 0 ]; then
        tail -n 60 "$beside_log" >&2
        echo "== $beside_name failed (all of it in $beside_log)" >&2
        exit $status
    fi
    echo "== $beside_name: $((SECONDS - beside_start)) s" >&2
}
# A failed stage stops the run: whatever runs beside it stops too.
kill_tree() {
    local child
    for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do kill_tree "$child"; done
    kill "$1" 2>/dev/null || true
}
stop_beside() {
    [ -n "${beside_pid:-}" ] && kill_tree "$beside_pid"
    return 0
}

# The whole suite again under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer. Leaks of system libraries are suppressed by tests/lsan.supp,
# never ours. The pseudo-terminal tests preload their modem line shim ahead of
# the sanitizer runtime, which it must be told to accept.
sanitizer_build() {
    # Line tables are all the sanitizers' reports need, and build faster than full debug information.
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DLINKPROBE_SANITIZE=ON \
        -DBUILD_TESTING=ON "$unity" >/dev/null
    cmake --build build-asan -j"$(nproc)"
}
sanitizer_tests() {
    ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0:check_initialization_order=1 \
        LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp" \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        linux_tests build-asan
}

# The reply path under libFuzzer for a bounded time (FUZZ_SECONDS, 60 by
# default). New inputs collect in build-fuzz/corpus, an input that breaks the
# path lands in build-fuzz/findings/ and fails the run.
fuzz_build() {
    cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo "$unity" \
        -DLINKPROBE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
    cmake --build build-fuzz -j"$(nproc)" --target fuzz_replypath
}
fuzz_run() {
    mkdir -p build-fuzz/corpus build-fuzz/findings
    if ! LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp" build-fuzz/fuzz/fuzz_replypath \
        -max_total_time="${FUZZ_SECONDS:-60}" -timeout=10 -print_final_stats=1 \
        -artifact_prefix=build-fuzz/findings/ build-fuzz/corpus fuzz/corpus 2>build-fuzz/fuzz.log; then
        tail -n 40 build-fuzz/fuzz.log >&2
        echo "The fuzzer found an input that breaks the reply path; it is in build-fuzz/findings/" >&2
        return 1
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' build-fuzz/fuzz.log >&2
}

# Why the Windows stage cannot run on this machine; nothing when it can.
windows_kit_missing() {
    [ -f "$qt_windows/lib/cmake/Qt6/Qt6Config.cmake" ] && return 0
    if [ ! -f "$windows_archive" ]; then
        echo "no Qt for Windows in $qt_windows and no kit at $windows_archive"
    elif [ "$(id -u)" -ne 0 ]; then
        echo "Qt for Windows is not unpacked in $qt_windows, and only root may unpack $windows_archive there"
    fi
}
windows_kit_hint="put the kit qt6.4.2-mingw-w64-x86_64.tar.xz in ../shared/windows (or name its folder in \
LINKPROBE_WINDOWS_KIT), or make it with packaging/windows/qt-kit/build-qt.sh (see its README.md)"

install_qt_windows() {
    [ -f "$qt_windows/lib/cmake/Qt6/Qt6Config.cmake" ] && return 0
    echo "Unpacking Qt for Windows to $qt_windows" >&2
    mkdir -p "$qt_windows"
    tar -C "$qt_windows" --strip-components=1 -xJf "$windows_archive"
}

# Everything again, cross-built for Windows with MinGW-w64, tests included.
windows_build() {
    [ -f "$windows_toolchain" ] || { echo "The toolchain file $windows_toolchain is missing" >&2; return 1; }
    cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$windows_toolchain" \
        -DQT_MINGW_PREFIX="$qt_windows" -DCMAKE_BUILD_TYPE=Release "$unity" "$@" >/dev/null
    cmake --build build-win -j"$(nproc)"
}

# The Windows tests under Wine, then linkprobe-check.exe on a COM port that
# Wine maps to a pseudo-terminal (a test of the Linux build that runs it).
windows_tests() {
    local status=0
    ctest --test-dir build-win --output-on-failure -j"$(nproc)" || status=1
    LINKPROBE_WINDOWS_BUILD=$PWD/build-win ctest --test-dir build -L wine --output-on-failure || status=1
    # Totals of the Qt Test programs that ran under Wine, and what was left out and why.
    awk '/^Totals:/ { programs++; passed += $2; failed += $4; skipped += $6 }
         END { printf "== Windows tests under Wine: %d programs, %d test functions passed, %d failed, %d skipped\n",
                      programs, passed, failed, skipped }' build-win/Testing/Temporary/LastTest.log >&2
    grep -h '^tst_[a-z_]*: left out on Windows' build-win/Testing/Temporary/LastTest.log | sort -u | sed 's/^/== /' >&2
    awk '/^Totals:/ { printf "== COM port under Wine (tst_wineport): %d passed, %d failed, %d skipped\n", $2, $4, $6 }' \
        build/Testing/Temporary/LastTest.log >&2
    return $status
}

case "${1:-}" in
run)
    shift
    install_missing "${build_deps[@]}" "${run_deps[@]}"
    build -DBUILD_TESTING=OFF
    [ $# -eq 0 ] && set -- --simulate
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display here: starting on a virtual X display; a screenshot goes to build/linkprobe.png" >&2
        # Nobody can close a window nobody sees: the run ends once the screenshot is saved.
        exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
            build/app/linkprobe "$@" & pid=$!
            sleep 3
            status=0
            import -window root build/linkprobe.png && echo "Screenshot: build/linkprobe.png" >&2 || status=$?
            kill "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
            exit "$status"' linkprobe "$@"
    fi
    exec build/app/linkprobe "$@"
    ;;
test)
    windows_skipped=$(windows_kit_missing)
    if [ -z "$windows_skipped" ]; then
        install_missing "${build_deps[@]}" "${test_deps[@]}" "${windows_deps[@]}"
        install_qt_windows
    else
        install_missing "${build_deps[@]}" "${test_deps[@]}"
    fi
    trap stop_beside EXIT
    stage build build -DBUILD_TESTING=ON
    beside "sanitizer build" build-asan.log nice sanitizer_build
    stage tests linux_tests build
    joined
    beside "fuzz build" build-fuzz.log nice fuzz_build
    stage "sanitizer tests" sanitizer_tests
    joined
    # The fuzzer keeps one core for its minute, at full priority.
    beside fuzzing build-fuzz/run.log fuzz_run
    [ -z "$windows_skipped" ] && stage "Windows build" windows_build -DBUILD_TESTING=ON
    joined
    cat build-fuzz/run.log >&2
    if [ -z "$windows_skipped" ]; then
        stage "Windows tests" windows_tests
        echo "== all stages passed in $SECONDS s" >&2
    else
        echo "== Windows stage skipped: $windows_skipped; to run it, $windows_kit_hint" >&2
        echo "== all Linux stages passed in $SECONDS s" >&2
    fi
    ;;
windows)
    windows_skipped=$(windows_kit_missing)
    if [ -n "$windows_skipped" ]; then
        echo "Cannot build for Windows: $windows_skipped; $windows_kit_hint" >&2
        exit 1
    fi
    install_missing "${windows_deps[@]}"
    install_qt_windows
    windows_build -DBUILD_TESTING=OFF
    (cd build-win && cpack)
    ;;
*)
    echo "usage: $0 run [--simulate[=SCENARIO]] | test | windows" >&2
    exit 64
    ;;
esac
