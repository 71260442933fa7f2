#!/bin/bash
# Rebuilds qt6.4.2-mingw-w64-x86_64.tar.xz: Qt 6.4.2 (Core, Gui, Widgets, Test, the windows platform plugin)
# and Qt SerialPort for Windows x86_64 with Debian 12's MinGW-w64, installed at /opt/qt6-mingw.
# Root on Debian 12; about 30 minutes on 2 cores. Sources: Debian's qt6-base 6.4.2 source package (fetched
# here) and the Qt SerialPort 6.4.2 source archive, which Debian 12 has no source package of: see README.md.
# Usage: build-qt.sh [WORKDIR] [QTSERIALPORT_ARCHIVE]
#   QTSERIALPORT_ARCHIVE defaults to qtserialport-everywhere-src-6.4.2.tar.xz in the kit folder
#   ($LINKPROBE_WINDOWS_KIT, else ../shared/windows beside the clone).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
W=${1:-$PWD/qt-mingw-build}
kit=${LINKPROBE_WINDOWS_KIT:-$here/../../../../shared/windows}
serialport_src=$(realpath "${2:-$kit/qtserialport-everywhere-src-6.4.2.tar.xz}")
[ -f "$serialport_src" ] || { echo "Qt SerialPort source missing: $serialport_src (see README.md)" >&2; exit 1; }
mkdir -p "$W/src" && cd "$W/src"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools \
    cmake ninja-build dpkg-dev qt6-base-dev qt6-base-dev-tools
sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > /etc/apt/sources.list.d/debian-src.sources
apt-get update -qq
apt-get source --download-only qt6-base
rm -f /etc/apt/sources.list.d/debian-src.sources && apt-get update -qq
tar xf qt6-base_6.4.2+dfsg.orig.tar.xz
tar xf "$serialport_src"
# Two Qt 6.4.2 faults that only show with OpenGL and Direct2D off, as here.
patch -d qtbase-everywhere-src-6.4.2 -p1 < "$here/qwindowswindow-noopengl.patch"
patch -d qtbase-everywhere-src-6.4.2 -p1 < "$here/qwindowsintegration-nodirect2d.patch"
mkdir -p "$W/build-qtbase" && cd "$W/build-qtbase"
# tabletevent off: Debian's source drops the Wintab headers it needs.
cmake -G Ninja "$W/src/qtbase-everywhere-src-6.4.2" \
  -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/opt/qt6-mingw \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF -DBUILD_SHARED_LIBS=ON \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
  -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF -DFEATURE_tabletevent=OFF \
  -DFEATURE_icu=OFF -DFEATURE_freetype=OFF -DFEATURE_fontconfig=OFF \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_doubleconversion=OFF \
  -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON
ninja -j2 && ninja install
mkdir -p "$W/build-serialport" && cd "$W/build-serialport"
/opt/qt6-mingw/bin/qt-configure-module "$W/src/qtserialport-everywhere-src-6.4.2" -- \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
ninja -j2 && ninja install
tar -C /opt -cJf "$W/qt6.4.2-mingw-w64-x86_64.tar.xz" qt6-mingw
echo "$W/qt6.4.2-mingw-w64-x86_64.tar.xz"
