#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds, then runs or tests linkprobe.
#   ./build.sh run [OPTIONS]   start the window; without options on the simulated installation
#                              (without a display: a screenshot to build/linkprobe.png, then exit)
#   ./build.sh test            build and run every test, run them again under the sanitizers,
#                              then fuzz the reply path for a minute (FUZZ_SECONDS=N for longer)
set -euo pipefail
cd "$(dirname "$0")"

build_deps=(cmake make g++ qt6-base-dev qt6-serialport-dev fonts-liberation)
test_deps=(clang libclang-rt-14-dev desktop-file-utils)
run_deps=(xvfb xauth x11-apps imagemagick)

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

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build build -j"$(nproc)"
}

# Runs one step of the test run and tells how long it took.
stage() {
    local name=$1 start=$SECONDS
    shift
    echo "== $name" >&2
    "$@"
    echo "== $name: $((SECONDS - start)) s" >&2
}

# The whole suite again under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer. Leaks of system libraries are suppressed by tests/lsan.supp,
# never ours. The pseudo-terminal tests preload their modem line shim ahead of
# the sanitizer runtime, which it must be told to accept.
sanitizer_build() {
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DLINKPROBE_SANITIZE=ON -DBUILD_TESTING=ON >/dev/null
    cmake --build build-asan -j"$(nproc)"
}
sanitizer_tests() {
    (cd build-asan &&
        ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0:check_initialization_order=1 \
        LSAN_OPTIONS=suppressions="$PWD/../tests/lsan.supp" \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure -j"$(nproc)")
}

# The reply path under libFuzzer for a bounded time (FUZZ_SECONDS, 60 by
# default). New inputs collect in build-fuzz/corpus, an input that breaks the
# path lands in build-fuzz/findings/ and fails the run.
fuzz_build() {
    cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
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
    install_missing "${build_deps[@]}" "${test_deps[@]}"
    stage build build -DBUILD_TESTING=ON
    stage tests ctest --test-dir build --output-on-failure -j"$(nproc)"
    stage "sanitizer build" sanitizer_build
    stage "sanitizer tests" sanitizer_tests
    stage "fuzz build" fuzz_build
    stage fuzzing fuzz_run
    echo "== all stages passed in $SECONDS s" >&2
    ;;
*)
    echo "usage: $0 run [--simulate[=SCENARIO]] | test" >&2
    exit 64
    ;;
esac
