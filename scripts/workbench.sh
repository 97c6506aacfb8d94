#!/usr/bin/env bash
# Sets up a Debian 12 machine for sensor_workbench, builds it, and runs it or its tests.
#
#   scripts/workbench.sh run          install what is missing, build, start sensor_workbench
#   scripts/workbench.sh test         install what is missing, build, run every test, then the
#                                     whole suite again under ThreadSanitizer and under
#                                     AddressSanitizer with UndefinedBehaviorSanitizer, then
#                                     fuzz for 60 s, then check-package
#   scripts/workbench.sh test-quick   the plain test run only
#   scripts/workbench.sh build        install what is missing and build
#   scripts/workbench.sh bench        install what is missing, build, run the benchmarks and
#                                     write docs/PERFORMANCE.md (figures only; they do not
#                                     pass or fail); with options, runs workbench_bench with
#                                     them instead (--help lists them)
#   scripts/workbench.sh fuzz [SECS]  fuzz the reply checks for SECS seconds (default 60)
#   scripts/workbench.sh package      install what is missing, build the Debian package
#                                     sensor-workbench, print its path
#   scripts/workbench.sh check-package  build the package, check it with lintian, install it,
#                                     validate its AppStream metainfo, start the installed
#                                     programs and ask them to quit, remove it again
#
# Installing needs root (or sudo). Everything already present is left alone, so running it
# again is cheap. Build trees: build/, build-tsan/, build-asan/, build-fuzz/, build-package/ in
# the source tree (WORKBENCH_BUILD_ROOT moves them elsewhere).
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
# CPack picks the files dpkg-shlibdeps (dpkg-dev, part of build-essential) has to read with
# file(1); the package check validates the installed menu entries with desktop-file-validate,
# the package with lintian and its AppStream metainfo with appstreamcli.
package_packages=(file)
check_packages=(desktop-file-utils lintian appstream)
# libFuzzer comes with clang's runtime libraries.
fuzz_packages=(clang libclang-rt-14-dev)

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

# run_fuzzer SECONDS: builds the libFuzzer target with clang and runs it on the seed corpus and
# what earlier runs added. A finding fails (the input is left in build-fuzz/findings). A run of
# ten minutes or more is recorded in fuzz/last-long-run.txt, which the benchmark report quotes.
run_fuzzer() {
    local seconds=$1 dir=$build_root/build-fuzz output status=0 record
    log "building the fuzz target in $dir"
    CC=clang CXX=clang++ cmake -S "$source_dir" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DWORKBENCH_SANITIZE=fuzz -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$dir" -j "$jobs" --target fuzz_replies
    mkdir -p "$dir/corpus" "$dir/findings"
    output=$(mktemp)
    log "fuzzing the reply checks for $seconds s"
    (cd "$dir/findings" && UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        "$dir/fuzz_replies" -max_total_time="$seconds" -max_len=512 -print_final_stats=1 \
        "$dir/corpus" "$source_dir/fuzz/corpus") >"$output" 2>&1 || status=$?
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|==[0-9]+==ERROR|SUMMARY)' "$output" >&2 || true
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$output" >&2
        rm -f "$output"
        log "the fuzzer found a failing input: see $dir/findings"
        exit 1
    fi
    if [ "$seconds" -ge 600 ]; then
        record=$source_dir/fuzz/last-long-run.txt
        {
            printf 'finished:        %s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
            printf 'machine:         %s, %s cores\n' \
                "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)" "$jobs"
            printf 'duration:        %s s\n' "$seconds"
            printf 'executions:      %s\n' \
                "$(sed -n 's/^stat::number_of_executed_units: *//p' "$output")"
            printf 'per second:      %s\n' \
                "$(sed -n 's/^stat::average_exec_per_sec: *//p' "$output")"
            printf 'coverage:        %s\n' \
                "$(grep -E '^#[0-9]+[[:space:]]' "$output" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [^ ]+')"
            printf 'peak memory:     %s MB\n' "$(sed -n 's/^stat::peak_rss_mb: *//p' "$output")"
            printf 'findings:        none\n'
        } >"$record"
        log "recorded in $record"
    fi
    rm -f "$output"
}

start_program() {
    local program=$build_root/build/sensor_workbench
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        exec "$program"
    fi
    log "no display: starting sensor_workbench on a virtual X server (xvfb-run)"
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$program"
}

# build_package: a release tree of its own, then the Debian package; sets package_file.
build_package() {
    local dir=$build_root/build-package packages
    build "$dir" -DBUILD_TESTING=OFF
    log "packaging in $dir"
    rm -f "$dir"/sensor-workbench_*.deb
    (cd "$dir" && cpack -G DEB) >&2
    packages=("$dir"/sensor-workbench_*.deb)
    if [ ! -f "${packages[0]}" ]; then
        log "cpack wrote no sensor-workbench package in $dir"
        exit 1
    fi
    package_file=${packages[0]}
}

# run_installed PROGRAM: starts it offscreen and asks it to quit with SIGTERM after two
# seconds. It has to be running still by then, and leave through the window's destructor
# (which logs the worker thread's deletion) with status 0.
run_installed() {
    local program=$1 errors status=0 started elapsed_ms
    errors=$(mktemp)
    started=$(date +%s%N)
    # -k: a program that ignores the request is killed, and fails, instead of hanging here.
    (cd / && QT_QPA_PLATFORM=offscreen timeout --preserve-status -s TERM -k 10 2 "$program") \
        >/dev/null 2>"$errors" || status=$?
    elapsed_ms=$((($(date +%s%N) - started) / 1000000))
    if [ "$elapsed_ms" -ge 2000 ] && [ "$status" -eq 0 ] &&
        grep -qxF 'ThreadFromQThread delete' "$errors"; then
        log "$program ran ${elapsed_ms} ms and quit cleanly on SIGTERM"
        rm -f "$errors"
        return 0
    fi
    log "$program: exit status $status after ${elapsed_ms} ms; its standard error:"
    sed 's/^/    /' "$errors" >&2
    rm -f "$errors"
    return 1
}

# check_installed: what the installed package has to provide. Reports every miss; fails if
# there was one. (Written without relying on set -e, which a caller's || switches off.)
check_installed() {
    local failed=0 file owner dependency depends entry program icon_type
    depends=$(dpkg-deb -f "$package_file" Depends)
    log "Depends: $depends"
    for dependency in libqt5core5a libqt5gui5 libqt5widgets5 libqt5charts5 libqt5serialport5 \
        libc6 libstdc++6; do
        if ! grep -qE "(^|[,|] *)${dependency//+/\\+}( |,|\$)" <<<"$depends"; then
            log "the package does not depend on $dependency"
            failed=1
        fi
    done
    for file in /usr/bin/sensor_workbench /usr/bin/sensor_workbench_basic \
        /usr/bin/sensor_simulator /usr/share/applications/sensor_workbench.desktop \
        /usr/share/applications/sensor_workbench_basic.desktop \
        /usr/share/icons/hicolor/256x256/apps/sensor_workbench.png; do
        owner=$(dpkg-query -S "$file" 2>/dev/null || true)
        if [ ! -f "$file" ] || [ "${owner%%:*}" != sensor-workbench ]; then
            log "not installed by sensor-workbench: $file"
            failed=1
        fi
    done
    for entry in /usr/share/applications/sensor_workbench.desktop \
        /usr/share/applications/sensor_workbench_basic.desktop; do
        [ -f "$entry" ] || continue
        if ! desktop-file-validate "$entry"; then
            log "invalid menu entry $entry"
            failed=1
        fi
        program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
        if [ "$(command -v "$program")" != "/usr/bin/$program" ]; then
            log "$entry starts '$program', which is not an installed program"
            failed=1
        fi
    done
    icon_type=$(file -b /usr/share/icons/hicolor/256x256/apps/sensor_workbench.png)
    if [[ $icon_type != "PNG image data, 256 x 256,"* ]]; then
        log "the 256x256 icon is not a 256 x 256 PNG"
        failed=1
    fi
    if ! /usr/bin/sensor_simulator --help >/dev/null; then
        log "sensor_simulator --help failed"
        failed=1
    fi
    for program in /usr/bin/sensor_workbench /usr/bin/sensor_workbench_basic; do
        run_installed "$program" || failed=1
    done
    return "$failed"
}

# check_lintian: Debian's package checker on the package file. An error or a warning fails;
# info tags are shown, not judged.
check_lintian() {
    log "lintian $package_file"
    if ! lintian --fail-on error,warning --display-info "$package_file" >&2; then
        log "lintian reports an error or a warning"
        return 1
    fi
}

# check_documents: the copyright file, the changelog, the manual pages and the AppStream
# metainfo of the installed package, and the one version that the package, the metainfo, the
# manual pages and sensor_simulator --version all name. Reports every miss; fails if there was
# one.
check_documents() {
    local failed=0 version file owner metainfo page option simulator_page
    version=$(dpkg-deb -f "$package_file" Version)
    log "Version: $version"
    for file in /usr/share/doc/sensor-workbench/copyright \
        /usr/share/doc/sensor-workbench/changelog.gz /usr/share/man/man1/sensor_workbench.1.gz \
        /usr/share/man/man1/sensor_workbench_basic.1.gz /usr/share/man/man1/sensor_simulator.1.gz; do
        owner=$(dpkg-query -S "$file" 2>/dev/null || true)
        if [ ! -f "$file" ] || [ "${owner%%:*}" != sensor-workbench ]; then
            log "not installed by sensor-workbench: $file"
            failed=1
        fi
    done
    # (First lines read with sed, which reads on to the end: under pipefail, a reader that
    # stopped early could fail the writer.)
    if [ -f /usr/share/doc/sensor-workbench/changelog.gz ] &&
        [[ "$(zcat /usr/share/doc/sensor-workbench/changelog.gz | sed -n 1p)" != \
            "sensor-workbench ($version) "* ]]; then
        log "the changelog's latest entry is not version $version"
        failed=1
    fi
    for page in sensor_workbench sensor_workbench_basic sensor_simulator; do
        file=/usr/share/man/man1/$page.1.gz
        [ -f "$file" ] || continue
        if [[ "$(zcat "$file" | sed -n 1p)" != *"\"sensor_workbench $version\""* ]]; then
            log "the manual page $file does not name version $version in its header"
            failed=1
        fi
    done
    # Every option that the simulator's --help lists is in its manual page.
    simulator_page=$(zcat /usr/share/man/man1/sensor_simulator.1.gz 2>/dev/null |
        sed 's/\\-/-/g')
    for option in $(/usr/bin/sensor_simulator --help | grep -oE '^  (-[a-z], )?--[a-z-]+' |
        grep -oE -- '--[a-z-]+'); do
        if ! grep -qE -- "(^|[^a-z-])$option([^a-z-]|\$)" <<<"$simulator_page"; then
            log "the manual page of sensor_simulator lacks $option"
            failed=1
        fi
    done
    if [ "$(/usr/bin/sensor_simulator --version)" != "sensor_simulator $version" ]; then
        log "sensor_simulator --version does not print version $version"
        failed=1
    fi
    metainfo=$(dpkg-query -L sensor-workbench |
        grep -E '^/usr/share/metainfo/[^/]+\.metainfo\.xml$' || true)
    if [ -z "$metainfo" ] || [ "$(wc -l <<<"$metainfo")" -ne 1 ]; then
        log "sensor-workbench installs not one AppStream metainfo file: ${metainfo:-none}"
        return 1
    fi
    # appstreamcli fails on an error or a warning; info and pedantic hints are shown only.
    log "appstreamcli validate $metainfo"
    if ! appstreamcli validate --no-net "$metainfo" >&2; then
        log "invalid AppStream metainfo $metainfo"
        failed=1
    fi
    if ! grep -qE "<release version=\"$version\" date=\"[0-9]{4}-[0-9]{2}-[0-9]{2}\"" \
        "$metainfo"; then
        log "the metainfo's release is not version $version with a date"
        failed=1
    fi
    return "$failed"
}

# check_package: builds the package, checks it with lintian, installs it, checks what it
# installed, removes it.
check_package() {
    local failed=0
    build_package
    check_lintian || failed=1
    log "installing $package_file"
    # --reinstall: an installed package of the same version would otherwise be kept, and the
    # check would look at that one.
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "$package_file"
    check_installed || failed=1
    check_documents || failed=1
    log "removing sensor-workbench"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -q sensor-workbench
    if [ "$failed" -ne 0 ]; then
        log "package check failed"
        exit 1
    fi
    log "package check passed"
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
    install_missing "${fuzz_packages[@]}"
    run_fuzzer 60
    install_missing "${package_packages[@]}" "${check_packages[@]}"
    check_package
    ;;
bench)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build "$build_root/build"
    if [ $# -gt 1 ]; then
        QT_QPA_PLATFORM=offscreen "$build_root/build/workbench_bench" "${@:2}"
    else
        QT_QPA_PLATFORM=offscreen "$build_root/build/workbench_bench" \
            --markdown "$source_dir/docs/PERFORMANCE.md" --source-dir "$source_dir"
    fi
    ;;
fuzz)
    install_missing "${build_packages[@]}" "${fuzz_packages[@]}"
    run_fuzzer "${2:-60}"
    ;;
package)
    install_missing "${build_packages[@]}" "${package_packages[@]}"
    build_package
    printf '%s\n' "$package_file"
    ;;
check-package)
    install_missing "${build_packages[@]}" "${package_packages[@]}" "${check_packages[@]}"
    check_package
    ;;
*)
    sed -n '2,24p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
