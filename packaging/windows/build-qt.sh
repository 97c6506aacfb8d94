#!/usr/bin/env bash
# The recipe for the Qt that the Windows programs are built against: Qt 5.15.8's qtbase,
# qtserialport and qtcharts for x86_64-w64-mingw32, shared, release, no examples or tests.
# scripts/workbench.sh windows runs it once per machine and keys its cache on this file's
# contents, so any change here builds Qt again.
#
#   build-qt.sh PREFIX WORKDIR QTBASE_SRC QTSERIALPORT_SRC QTCHARTS_SRC
#
# The three source trees are unpacked already (Debian's source packages, or upstream's
# tarball where the archive does not serve one). Everything is built in WORKDIR and installed
# into PREFIX, which must not exist yet.
set -euo pipefail

[ $# -eq 5 ] || {
    echo "usage: $0 PREFIX WORKDIR QTBASE_SRC QTSERIALPORT_SRC QTCHARTS_SRC" >&2
    exit 2
}
prefix=$1 work=$2 qtbase_src=$3 qtserialport_src=$4 qtcharts_src=$5
jobs=$(nproc 2>/dev/null || echo 2)
step() { printf '== qt: %s\n' "$*" >&2; }

# The posix-thread compilers whatever update-alternatives says: the programs use std::mutex
# and std::thread, which GCC 12's win32-thread runtime lacks.
tools=$work/tools
mkdir -p "$tools"
for tool in gcc g++ c++ cpp gcc-ar gcc-nm gcc-ranlib; do
    ln -sf "/usr/bin/x86_64-w64-mingw32-$tool-posix" "$tools/x86_64-w64-mingw32-$tool"
done
export PATH=$tools:$PATH

step "configuring qtbase"
mkdir -p "$work/qtbase"
cd "$work/qtbase"
# Debian's repacked qtbase lacks the bundled wintab and SQLite sources, hence no tablet
# events and no SQL; the programs use neither, nor networking, D-Bus, OpenGL or ICU.
"$qtbase_src/configure" -prefix "$prefix" -opensource -confirm-license \
    -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
    -release -shared -nomake examples -nomake tests \
    -no-opengl -no-dbus -no-icu -no-feature-tabletevent -no-feature-sql \
    -no-feature-network -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre

step "building qtbase"
make -j"$jobs"
make install

# qtserialport's header generation wants a .git folder at the top of its tree, and its
# CMake check wants tests/ left in place: build from a copy, so the source stays untouched.
module() {
    local name=$1 src=$2
    step "building $name"
    rm -rf "$work/$name-src" "$work/$name"
    cp -a "$src" "$work/$name-src"
    mkdir -p "$work/$name-src/.git" "$work/$name"
    (cd "$work/$name" && "$prefix/bin/qmake" "$work/$name-src" && make -j"$jobs" && make install)
}
module qtserialport "$qtserialport_src"
module qtcharts "$qtcharts_src"

# qmake keeps the prefix it was built for; this lets the tree be moved into its final place.
printf '[Paths]\nPrefix=..\n' >"$prefix/bin/qt.conf"
step "installed in $prefix"
