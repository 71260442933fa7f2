#!/usr/bin/env bash
# Tries the Windows package of a build folder under Wine, in a fresh Wine
# prefix of its own: installs the installer silently, lists what it put where,
# runs the installed programs without any DLL path of ours, uninstalls and
# lists what is left; then unpacks the zip and runs the programs from there.
# The window needs a display: without one, run it under xvfb-run -a.
#   packaging/windows/try-under-wine.sh [BUILD]    (default build-win, after ./build.sh windows)
set -euo pipefail
command -v unzip >/dev/null || { echo "try-under-wine.sh needs unzip: apt-get install unzip" >&2; exit 1; }
build=$(realpath "${1:-build-win}")
installer=$(ls "$build"/linkprobe-*-win64.exe)
zip=$(ls "$build"/linkprobe-*-win64.zip)
work=$(mktemp -d)
trap 'WINEPREFIX=$work/prefix /usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEPREFIX=$work/prefix WINEDEBUG=-all
unset WINEPATH
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine
drive_c=$WINEPREFIX/drive_c
installed="$drive_c/Program Files/linkprobe"
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/linkprobe"

WINEDLLOVERRIDES='mscoree,mshtml=' "$wine" wineboot --init >/dev/null 2>&1
# The programs are run on the simulated installation and on a port that is not there.
run_programs() {
    local dir=$1
    echo "-- $dir\\linkprobe-check.exe --simulate --instant block 5"
    "$wine" "$dir\\linkprobe-check.exe" --simulate --instant block 5 || echo "(exit status $?)"
    echo "-- $dir\\linkprobe-check.exe --port 231 link"
    "$wine" "$dir\\linkprobe-check.exe" --port 231 link || echo "(exit status $?)"
    echo "-- $dir\\linkprobe-sim.exe --help (first line)"
    "$wine" "$dir\\linkprobe-sim.exe" --help | head -n 1
    echo "-- $dir\\linkprobe.exe --simulate --startup-report"
    "$wine" "$dir\\linkprobe.exe" --simulate --startup-report || echo "(exit status $?)"
}

echo "== installer: $(basename "$installer") ($(stat -c %s "$installer") bytes)"
start=$SECONDS
"$wine" "$installer" /S
echo "installed in $((SECONDS - start)) s:"
(cd "$installed" && find . -type f | sort | sed 's|^\./|  C:\\Program Files\\linkprobe\\|; s|/|\\|g')
echo "Start menu:"
(cd "$menu" && find . -type f | sort | sed 's|^\./|  |')
echo "Programs and Features:"
"$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\linkprobe' | sed -n 's/^ */  /p'
run_programs 'C:\Program Files\linkprobe' 2>&1 | sed 's/^/  /'
echo "settings written: $(cd "$drive_c/users" && find . -iname 'LINKPROBE.ini' | sed 's|^\./|C:\\users\\|; s|/|\\|g')"
"$wine" "C:\\Program Files\\linkprobe\\Uninstall.exe" /S
# The uninstaller copies itself aside and returns at once; its copy finishes the job.
"$wine" cmd /c exit 2>/dev/null; sleep 3
echo "after uninstalling: $(find "$installed" "$menu" 2>/dev/null | wc -l) files or folders left of the installation and its Start menu entry;" \
     "uninstall key $("$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\linkprobe' >/dev/null 2>&1 && echo kept || echo removed);" \
     "settings $(find "$drive_c/users" -iname 'LINKPROBE.ini' | grep -q . && echo kept || echo gone)"

echo "== zip: $(basename "$zip") ($(stat -c %s "$zip") bytes)"
unzip -q "$zip" -d "$drive_c/portable"
(cd "$drive_c/portable" && find . -type f | sort | sed 's|^\./|  |')
folder=$(basename "$zip" .zip)
run_programs "C:\\portable\\$folder" 2>&1 | sed 's/^/  /'
