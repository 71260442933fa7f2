#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds, then runs or tests linkprobe.
#   ./build.sh run [OPTIONS]   start the window; without options on the simulated installation
#   ./build.sh test            build and run every test
set -euo pipefail
cd "$(dirname "$0")"

build_deps=(cmake make g++ qt6-base-dev qt6-serialport-dev fonts-liberation)
test_deps=(clang libclang-rt-14-dev)
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

case "${1:-}" in
run)
    shift
    install_missing "${build_deps[@]}" "${run_deps[@]}"
    build -DBUILD_TESTING=OFF
    [ $# -eq 0 ] && set -- --simulate
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display here: starting on a virtual X display; a screenshot goes to build/linkprobe.png" >&2
        exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
            build/app/linkprobe "$@" & pid=$!
            sleep 3; import -window root build/linkprobe.png && echo "Screenshot: build/linkprobe.png" >&2
            wait $pid' linkprobe "$@"
    fi
    exec build/app/linkprobe "$@"
    ;;
test)
    install_missing "${build_deps[@]}" "${test_deps[@]}"
    build -DBUILD_TESTING=ON
    (cd build && ctest --output-on-failure -j"$(nproc)")
    ;;
*)
    echo "usage: $0 run [--simulate[=SCENARIO]] | test" >&2
    exit 64
    ;;
esac
