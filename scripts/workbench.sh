#!/usr/bin/env bash
# Sets up a Debian 12 machine for sensor_workbench, builds it, and runs it or its tests.
#
#   scripts/workbench.sh run          install what is missing, build, start sensor_workbench
#   scripts/workbench.sh test         install what is missing, build, run every test, then the
#                                     whole suite again under ThreadSanitizer and under
#                                     AddressSanitizer with UndefinedBehaviorSanitizer
#   scripts/workbench.sh test-quick   the plain test run only
#   scripts/workbench.sh build        install what is missing and build
#   scripts/workbench.sh bench        install what is missing, build, run the benchmarks
#                                     (figures only; they do not pass or fail)
#
# Installing needs root (or sudo). Everything already present is left alone, so running it
# again is cheap. Build trees: build/, build-tsan/, build-asan/ in the source tree
# (WORKBENCH_BUILD_ROOT moves them elsewhere).
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${WORKBENCH_BUILD_ROOT:-$source_dir}
jobs=$(nproc 2>/dev/null || echo 2)

build_packages=(build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools
                libqt5charts5-dev libqt5serialport5-dev)
# libmodbus is the independent peer of the interoperability tests; the fonts make the
# Chinese captions legible in screenshots; xvfb gives a display to a machine without one.
test_packages=(libmodbus-dev fonts-wqy-microhei)
display_packages=(xvfb xauth fonts-wqy-microhei)

log() { printf '== %s\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        log "need root to run: $*"
        exit 1
    fi
}

install_missing() {
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "${missing[@]}"
}

# build DIR [cmake options...]
build() {
    local dir=$1
    shift
    log "building in $dir"
    cmake -S "$source_dir" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

# run_suite DIR: every test, with its output where it failed.
run_suite() {
    local dir=$1
    log "testing in $dir"
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 900)
}

test_sanitized() {
    # Debian's Qt is not built with ThreadSanitizer: calls made from inside libQt5Core are
    # not ours to judge, but every access our own code makes still is.
    TSAN_OPTIONS="suppressions=$source_dir/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
        build_and_run_suite "$build_root/build-tsan" -DWORKBENCH_SANITIZE=thread
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:fast_unwind_on_malloc=0" \
    LSAN_OPTIONS="suppressions=$source_dir/scripts/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        build_and_run_suite "$build_root/build-asan" -DWORKBENCH_SANITIZE=address
}

build_and_run_suite() {
    local dir=$1
    shift
    build "$dir" "$@"
    run_suite "$dir"
}

start_program() {
    local program=$build_root/build/sensor_workbench
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        exec "$program"
    fi
    log "no display: starting sensor_workbench on a virtual X server (xvfb-run)"
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$program"
}

case "${1:-}" in
run)
    install_missing "${build_packages[@]}"
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        install_missing "${display_packages[@]}"
    fi
    build "$build_root/build"
    start_program
    ;;
build)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build "$build_root/build"
    ;;
test-quick)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build_and_run_suite "$build_root/build"
    ;;
test)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build_and_run_suite "$build_root/build"
    test_sanitized
    ;;
bench)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build "$build_root/build"
    QT_QPA_PLATFORM=offscreen "$build_root/build/workbench_bench" "${@:2}"
    ;;
*)
    sed -n '2,16p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
