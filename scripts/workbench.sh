#!/usr/bin/env bash
# Sets up a Debian 12 or 13 machine for sensor_workbench, builds it, and runs it or its tests.
#
#   scripts/workbench.sh run          install what is missing, build, start sensor_workbench
#   scripts/workbench.sh test         install what is missing, build, run every test, then the
#                                     plain suite again built with Qt 6, then the whole suite
#                                     under ThreadSanitizer and under AddressSanitizer with
#                                     UndefinedBehaviorSanitizer, then fuzz for 60 s, then
#                                     check-package, then windows and windows-test when the
#                                     cross-built Qt is in the cache (said in one line if not)
#   scripts/workbench.sh test-quick   the plain test run only
#   scripts/workbench.sh test-busy [N]  .ci/run N times (default 3) in fresh clones of the
#                                     committed tree beside two busy loops at nice 19; each
#                                     run's time and result in busy-runs.txt
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
#   scripts/workbench.sh windows      install what is missing, cross-build Qt for Windows once
#                                     into ~/.cache/sensor-workbench (WORKBENCH_QT_SOURCES=DIR
#                                     names a folder with the Qt tarballs the archive does not
#                                     serve), cross-build both programs, make the zip and the
#                                     installer in build-windows/
#   scripts/workbench.sh windows-test  under Wine on a virtual X server: the suites that need no
#                                     pty, the window on a COM port against sensor_simulator,
#                                     the adapter pulled, the installer and uninstaller
#   scripts/workbench.sh windows-fresh  both of them from an empty cache of their own (Qt built
#                                     again), each step timed, recorded in
#                                     packaging/windows/last-fresh-run.txt
#   scripts/workbench.sh debian13 DIR  as root: make a minimal Debian 13 in DIR (debootstrap,
#                                     once), run test and both Qts' run in it on the committed
#                                     tree, record the outcome in fuzz/last-debian13-run.txt
#
# WORKBENCH_QT_MAJOR=6 builds run, build, test-quick, bench and fuzz with Qt 6 instead of Qt 5,
# in build-qt6/ (build-fuzz-qt6/). test runs the plain suite under both; the sanitizer builds
# and the Debian package are Qt 5.
#
# Installing needs root (or sudo). Everything already present is left alone, so running it
# again is cheap. Build trees: build/, build-qt6/, build-tsan/, build-asan/, build-fuzz/,
# build-package/, build-windows/ in the source tree (WORKBENCH_BUILD_ROOT moves them elsewhere).
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_root=${WORKBENCH_BUILD_ROOT:-$source_dir}
jobs=$(nproc 2>/dev/null || echo 2)

qt_major=${WORKBENCH_QT_MAJOR:-5}
case "$qt_major" in
5 | 6) ;;
*)
    printf '== WORKBENCH_QT_MAJOR must be 5 or 6, not %s\n' "$qt_major" >&2
    exit 2
    ;;
esac

tool_packages=(build-essential cmake pkg-config)
qt5_packages=(qtbase5-dev qtbase5-dev-tools libqt5charts5-dev libqt5serialport5-dev)
# Qt6Charts' CMake files ask for Qt6OpenGL, whose development files come apart.
qt6_packages=(qt6-base-dev qt6-base-dev-tools qt6-charts-dev qt6-serialport-dev
              libqt6opengl6-dev)
qt5_build_packages=("${tool_packages[@]}" "${qt5_packages[@]}")
qt6_build_packages=("${tool_packages[@]}" "${qt6_packages[@]}")
if [ "$qt_major" = 6 ]; then
    build_packages=("${qt6_build_packages[@]}")
    qt_suffix=-qt6
else
    build_packages=("${qt5_build_packages[@]}")
    qt_suffix=
fi
# libmodbus is the independent peer of the interoperability tests; the fonts make the
# Chinese captions legible in screenshots; xvfb gives a display to a machine without one.
test_packages=(libmodbus-dev fonts-wqy-microhei)
display_packages=(xvfb xauth fonts-wqy-microhei)
# CPack picks the files dpkg-shlibdeps (dpkg-dev, part of build-essential) has to read with
# file(1); the package check validates the installed menu entries with desktop-file-validate,
# the package with lintian and its AppStream metainfo with appstreamcli.
package_packages=(file)
check_packages=(desktop-file-utils lintian appstream)
# libFuzzer comes with clang's runtime libraries (the release's default clang).
fuzz_packages=(clang libclang-rt-dev)

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

# is_installed PACKAGE: installed itself, or provided by an installed package (Debian 13's
# qt6-base-dev provides libqt6opengl6-dev).
is_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' && return 0
    dpkg-query -W -f='${db:Status-Abbrev}|${Provides}\n' 2>/dev/null |
        awk -F'|' -v wanted="$1" '
            $1 ~ /^ii/ {
                n = split($2, provided, / *, */)
                for (i = 1; i <= n; i++) {
                    split(provided[i], words, " ")
                    if (words[1] == wanted) found = 1
                }
            }
            END { exit !found }'
}

install_missing() {
    local missing=() package
    for package in "$@"; do
        if ! is_installed "$package"; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    # Another apt run on the machine holds the lock for a while; wait for it instead of failing.
    as_root apt-get -o DPkg::Lock::Timeout=600 update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q \
        --no-install-recommends "${missing[@]}"
}

# build DIR [cmake options...]
build() {
    local dir=$1
    shift
    log "building in $dir"
    cmake -S "$source_dir" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DWORKBENCH_QT_MAJOR="$qt_major" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

# run_suite DIR [JOBS]: every test, with its output where it failed.
run_suite() {
    local dir=$1 parallel=${2:-$jobs}
    log "testing in $dir"
    (cd "$dir" && ctest --output-on-failure -j "$parallel" --timeout 900)
}

test_sanitized() {
    # Debian's Qt is not built with ThreadSanitizer: calls made from inside libQt5Core are
    # not ours to judge, but every access our own code makes still is.
    TSAN_OPTIONS="suppressions=$source_dir/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
        build_and_run_suite "$build_root/build-tsan" -DWORKBENCH_QT_MAJOR=5 \
        -DWORKBENCH_SANITIZE=thread
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:fast_unwind_on_malloc=0" \
    LSAN_OPTIONS="suppressions=$source_dir/scripts/lsan.supp:print_suppressions=0" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
        build_and_run_suite "$build_root/build-asan" -DWORKBENCH_QT_MAJOR=5 \
        -DWORKBENCH_SANITIZE=address
}

build_and_run_suite() {
    local dir=$1
    shift
    build "$dir" "$@"
    # Everything runs several times slower under a sanitizer, and a reply must still come
    # within its fixed wait: one suite at a time, so that two do not compete for the cores
    # with the simulated sensors they drive.
    if [[ " $* " == *" -DWORKBENCH_SANITIZE="* ]]; then
        run_suite "$dir" 1
    else
        run_suite "$dir"
    fi
}

# run_fuzzer SECONDS: builds the libFuzzer target with clang and runs it on the seed corpus and
# what earlier runs added. A finding fails (the input is left in build-fuzz/findings). A run of
# ten minutes or more is recorded in fuzz/last-long-run.txt, which the benchmark report quotes.
run_fuzzer() {
    local seconds=$1 dir=$build_root/build-fuzz$qt_suffix output status=0 record
    log "building the fuzz target in $dir"
    CC=clang CXX=clang++ cmake -S "$source_dir" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DWORKBENCH_QT_MAJOR="$qt_major" -DWORKBENCH_SANITIZE=fuzz -DBUILD_TESTING=OFF >/dev/null
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

# test_beside_busy_loops RUNS: .ci/run RUNS times in a row, each in a fresh clone of the
# committed tree, while two busy loops at the lowest priority (nice -n 19) keep both cores
# busy, as an editor indexing or a second build would. Each run's time and result is printed
# and kept in busy-runs.txt in the build root; the loops end with the last run.
test_beside_busy_loops() {
    local runs=$1 run clone status started seconds record=$build_root/busy-runs.txt failed=0
    local loops=()
    nice -n 19 sh -c 'while :; do :; done' &
    loops+=($!)
    nice -n 19 sh -c 'while :; do :; done' &
    loops+=($!)
    # shellcheck disable=SC2064  # the loops' ids are known now
    trap "kill ${loops[*]} 2>/dev/null" EXIT
    : >"$record"
    for ((run = 1; run <= runs; run++)); do
        clone=$(mktemp -d "${TMPDIR:-/tmp}/sensor-workbench-busy.XXXXXX")
        git clone -q "$source_dir" "$clone"
        log "busy run $run of $runs in $clone (log: $clone.log)"
        started=$(date +%s)
        status=0
        (cd "$clone" && CI=true bash .ci/run) >"$clone.log" 2>&1 || status=$?
        seconds=$(($(date +%s) - started))
        printf 'run %d: %s in %d s, commit %s, load average %s\n' "$run" \
            "$([ "$status" -eq 0 ] && echo passed || echo "FAILED (status $status)")" \
            "$seconds" "$(git -C "$clone" rev-parse --short HEAD)" \
            "$(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$record" >&2
        if [ "$status" -eq 0 ]; then
            rm -rf "$clone" "$clone.log"
        else
            failed=1
            grep -E '(FAIL!|Failed|tests passed|openAndScan)' "$clone.log" | head -n 20 >&2 || true
        fi
    done
    return "$failed"
}

start_program() {
    local program=$build_root/build$qt_suffix/sensor_workbench
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
        exec "$program"
    fi
    log "no display: starting sensor_workbench on a virtual X server (xvfb-run)"
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$program"
}

# build_package: a release tree of its own, then the Debian package; sets package_file. The
# package is built with Qt 5 whatever WORKBENCH_QT_MAJOR says.
build_package() {
    local dir=$build_root/build-package packages
    build "$dir" -DWORKBENCH_QT_MAJOR=5 -DBUILD_TESTING=OFF
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
    # Debian 13 renamed some of Qt 5's libraries for the 64-bit time_t move (libqt5core5t64).
    for dependency in 'libqt5core5(a|t64)' 'libqt5gui5(t64)?' 'libqt5widgets5(t64)?' \
        'libqt5charts5(t64)?' 'libqt5serialport5(t64)?' libc6 'libstdc\+\+6'; do
        if ! grep -qE "(^|[,|] *)${dependency}( |,|\$)" <<<"$depends"; then
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

# What debian13 runs inside the chroot, in the copied tree: the whole test, then each Qt's
# window program through run on a virtual X server, which has to come up, stay up for five
# seconds and quit with status 0 when asked.
# shellcheck disable=SC2016  # expanded by the shell inside the chroot
debian13_inside='
set -euo pipefail
cd /root/sensor_workbench
scripts/workbench.sh test
for qt in 5 6; do
    suffix=; [ "$qt" = 6 ] && suffix=-qt6
    program=/root/sensor_workbench/build$suffix/sensor_workbench
    WORKBENCH_QT_MAJOR=$qt scripts/workbench.sh run &
    runner=$!
    pid=
    for _ in $(seq 600); do
        pid=$(pgrep -f -x "$program" || true)
        [ -n "$pid" ] && break
        kill -0 "$runner" 2>/dev/null || break
        sleep 1
    done
    if [ -z "$pid" ]; then
        echo "== run with Qt $qt: the window program did not start"
        exit 1
    fi
    sleep 5
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "== run with Qt $qt: the window program ended within five seconds"
        exit 1
    fi
    kill -TERM "$pid"
    status=0
    wait "$runner" || status=$?
    if [ "$status" -ne 0 ]; then
        echo "== run with Qt $qt: exit status $status after SIGTERM"
        exit 1
    fi
    echo "== run with Qt $qt: the window came up and quit cleanly on SIGTERM"
done
'

# debian13 DIR: runs debian13_inside in a minimal Debian 13 made with debootstrap in DIR (made
# once, kept for later runs) on a copy of the committed tree, and records the outcome beside
# the long fuzz run. Its whole output is left in DIR/root/last-run.log.
debian13() {
    local root=$1 record=$source_dir/fuzz/last-debian13-run.txt log_file commit started
    local status=0 minutes mounted=() point
    if [ "$(id -u)" -ne 0 ]; then
        log "debian13 needs root (debootstrap, mount, chroot)"
        exit 1
    fi
    install_missing debootstrap
    mkdir -p "$root"
    root=$(cd "$root" && pwd)
    if [ ! -f "$root/etc/debian_version" ]; then
        log "making a minimal Debian 13 in $root"
        debootstrap --variant=minbase --include=ca-certificates,procps trixie "$root"
    fi
    commit=$(git -C "$source_dir" rev-parse HEAD)
    if [ -n "$(git -C "$source_dir" status --porcelain --untracked-files=no)" ]; then
        log "uncommitted changes are not copied: testing $commit as committed"
    fi
    rm -rf "$root/root/sensor_workbench"
    mkdir -p "$root/root/sensor_workbench"
    git -C "$source_dir" archive "$commit" | tar -x -C "$root/root/sensor_workbench"
    cp /etc/resolv.conf "$root/etc/resolv.conf"

    # Pseudo-terminals for the tests, /proc for the sanitizers and the tools.
    for point in proc sys dev dev/pts; do
        mkdir -p "$root/$point"
        case $point in
        proc) mount -t proc proc "$root/proc" ;;
        sys) mount -t sysfs sysfs "$root/sys" ;;
        *) mount --bind "/$point" "$root/$point" ;;
        esac
        mounted=("$root/$point" "${mounted[@]}")
    done
    # Lazily: a process the run left behind must not keep the mounts.
    # shellcheck disable=SC2064  # the list is fixed now
    trap "umount -l ${mounted[*]}" EXIT
    # pgrep, for the run check; a chroot made before it was asked for lacks it.
    if ! chroot "$root" dpkg-query -W procps >/dev/null 2>&1; then
        chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive apt-get -q update
        chroot "$root" /usr/bin/env DEBIAN_FRONTEND=noninteractive apt-get -q install -y procps
    fi

    log_file=$root/root/last-run.log
    log "testing $commit in Debian $(cat "$root/etc/debian_version"); output in $log_file"
    started=$(date +%s)
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 TERM=dumb bash -c "$debian13_inside" >"$log_file" 2>&1 || status=$?
    minutes=$((($(date +%s) - started + 59) / 60))

    {
        printf 'finished:        %s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
        printf 'system:          Debian %s (debootstrap, minbase) in a chroot on Debian %s, kernel %s\n' \
            "$(cat "$root/etc/debian_version")" "$(cat /etc/debian_version)" "$(uname -r)"
        printf 'machine:         %s, %s cores\n' \
            "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)" "$jobs"
        printf 'commit:          %s (the committed tree, copied with git archive)\n' "$commit"
        printf 'compilers:       %s; %s\n' \
            "$(chroot "$root" g++ --version 2>/dev/null | head -n 1)" \
            "$(chroot "$root" clang++ --version 2>/dev/null | head -n 1)"
        # shellcheck disable=SC2016  # a dpkg-query format
        printf 'Qt:              qtbase5-dev %s, qt6-base-dev %s\n' \
            "$(chroot "$root" dpkg-query -W -f='${Version}' qtbase5-dev 2>/dev/null)" \
            "$(chroot "$root" dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null)"
        printf 'ran:             scripts/workbench.sh test (plain suite with Qt 5 and with Qt 6,\n'
        printf '                 ThreadSanitizer, AddressSanitizer, fuzz 60 s, check-package);\n'
        printf '                 WORKBENCH_QT_MAJOR=5 and =6 scripts/workbench.sh run, each window\n'
        printf '                 up for 5 s and asked to quit with SIGTERM\n'
        printf 'duration:        %s min, installs included\n' "$minutes"
        printf 'suites:\n'
        grep -E '^(== testing in|[0-9]+% tests passed|Total Test time)' "$log_file" |
            sed 's/^/                 /' || true
        printf 'compiler warnings: %s\n' "$(grep -c 'warning:' "$log_file" || true)"
        grep -E '^== run with Qt' "$log_file" | sed 's/^/                 /' || true
        if [ "$status" -eq 0 ]; then
            printf 'outcome:         passed\n'
        else
            printf 'outcome:         FAILED (status %s); the end of its output:\n' "$status"
            tail -n 30 "$log_file" | sed 's/^/    /'
        fi
    } >"$record"
    log "recorded in $record"
    [ "$status" -eq 0 ]
}

# The Windows build and its tests under Wine.
# shellcheck source=scripts/windows.sh
source "$source_dir/scripts/windows.sh"

case "${1:-}" in
run)
    install_missing "${build_packages[@]}"
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        install_missing "${display_packages[@]}"
    fi
    build "$build_root/build$qt_suffix"
    start_program
    ;;
build)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build "$build_root/build$qt_suffix"
    ;;
test-quick)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build_and_run_suite "$build_root/build$qt_suffix"
    ;;
test)
    install_missing "${qt5_build_packages[@]}" "${qt6_packages[@]}" "${test_packages[@]}"
    build_and_run_suite "$build_root/build" -DWORKBENCH_QT_MAJOR=5
    build_and_run_suite "$build_root/build-qt6" -DWORKBENCH_QT_MAJOR=6
    test_sanitized
    install_missing "${fuzz_packages[@]}"
    run_fuzzer 60
    install_missing "${package_packages[@]}" "${check_packages[@]}"
    check_package
    windows_in_test
    ;;
bench)
    install_missing "${build_packages[@]}" "${test_packages[@]}"
    build "$build_root/build$qt_suffix"
    if [ $# -gt 1 ]; then
        QT_QPA_PLATFORM=offscreen "$build_root/build$qt_suffix/workbench_bench" "${@:2}"
    elif [ "$qt_major" = 6 ]; then
        # docs/PERFORMANCE.md describes the Qt 5 program that ships; Qt 6's figures are printed.
        QT_QPA_PLATFORM=offscreen "$build_root/build-qt6/workbench_bench"
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
    install_missing "${qt5_build_packages[@]}" "${package_packages[@]}"
    build_package
    printf '%s\n' "$package_file"
    ;;
test-busy)
    test_beside_busy_loops "${2:-3}"
    ;;
check-package)
    install_missing "${qt5_build_packages[@]}" "${package_packages[@]}" "${check_packages[@]}"
    check_package
    ;;
windows)
    install_missing "${windows_packages[@]}"
    build_windows_qt
    build_windows_programs
    package_windows
    ;;
windows-test)
    install_missing "${windows_packages[@]}" "${wine_packages[@]}" "${build_packages[@]}"
    qt_windows_ready || windows_fail "finding the cross-built Qt" "run scripts/workbench.sh windows first"
    build_windows_programs
    package_windows
    build "$build_root/build" -DWORKBENCH_QT_MAJOR=5
    windows_test || {
        log "windows-test failed: see $windows_results"
        exit 1
    }
    ;;
windows-fresh)
    # shellcheck disable=SC2119  # the record's place is fixed
    windows_fresh_run "$source_dir/packaging/windows/last-fresh-run.txt"
    ;;
debian13)
    [ $# -eq 2 ] || {
        log "usage: scripts/workbench.sh debian13 DIR"
        exit 2
    }
    debian13 "$2"
    ;;
*)
    sed -n '2,/^set -euo/p' "${BASH_SOURCE[0]}" | sed '$d' | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
