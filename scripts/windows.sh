# The Windows build, sourced by scripts/workbench.sh: a cross-built Qt cached outside the tree,
# both window programs cross-built from the same CMakeLists.txt, a zip and an NSIS installer,
# and the Windows tests under Wine. Uses workbench.sh's log, as_root, install_missing,
# source_dir, build_root and jobs.

qt_windows_version=5.15.8
windows_packages=(g++-mingw-w64-x86-64-posix dpkg-dev xz-utils nsis)
# fonts-wine: the fonts Windows programs expect (Tahoma, ...); Chinese comes from WenQuanYi.
wine_packages=(wine64 fonts-wine xvfb xauth fonts-wqy-microhei)
cache_root=${WORKBENCH_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/sensor-workbench}
qt_recipe=$source_dir/packaging/windows/build-qt.sh

# fail STEP RETRY: the one line that says which step failed and how to try again.
windows_fail() {
    log "windows: $1 failed; $2"
    exit 1
}

# The cache key: the recipe and the compiler it ran with. Either changing builds Qt again.
qt_cache_key() {
    { cat "$qt_recipe"; x86_64-w64-mingw32-g++-posix --version | head -n 1; } |
        sha256sum | cut -c1-16
}

# qt_windows_prefix: where the cross-built Qt is (or will be) for this recipe.
qt_windows_prefix() {
    printf '%s/qt-%s-mingw64-%s\n' "$cache_root" "$qt_windows_version" "$(qt_cache_key)"
}

# A prefix counts only once the recipe finished in it: the stamp is its last file.
qt_windows_ready() {
    command -v x86_64-w64-mingw32-g++-posix >/dev/null && [ -f "$(qt_windows_prefix)/.complete" ]
}

# apt-get with a sources list and state of our own in the cache: the machine's own apt
# configuration stays as it is, and no root is needed to fetch sources.
debian_source_apt() {
    local dir=$cache_root/apt
    local tool=$1
    shift
    "$tool" -q -o Dir::Etc::SourceList="$dir/sources.list" -o Dir::Etc::SourceParts=/nonexistent \
        -o Dir::State::Lists="$dir/lists" -o Dir::Cache="$dir/cache" -o Debug::NoLocking=1 \
        -o APT::Sandbox::User=root "$@"
}

debian_source_setup() {
    local dir=$cache_root/apt mirror
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    # The machine's own Debian mirror; the suite is bookworm, whose Qt is this recipe's 5.15.8.
    mirror=${WORKBENCH_DEBIAN_MIRROR:-$(sed -n 's/^URIs: *\([^ ]*debian\)\/\{0,1\} *$/\1/p' \
        /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1)}
    printf 'deb-src %s bookworm main\n' "${mirror:-http://deb.debian.org/debian}" \
        >"$dir/sources.list"
    debian_source_apt apt-get update >/dev/null
}

# fetch_qt_source MODULE PACKAGE: unpacks the module's source into sources/MODULE and records
# where it came from in sources/MODULE.origin. Debian's source package where the archive
# serves it, otherwise upstream's tarball from WORKBENCH_QT_SOURCES.
fetch_qt_source() {
    local module=$1 package=$2 dir=$cache_root/sources tarball dsc sum version
    [ -f "$dir/$module.origin" ] && [ -d "$dir/$module" ] && return 0
    rm -rf "${dir:?}/$module" "$dir/$module.download"
    mkdir -p "$dir/$module.download"
    # Debian's revision of the recipe's upstream version, whichever the archive serves now.
    version=$(debian_source_apt apt-cache showsrc "$package" 2>/dev/null |
        sed -n "s/^Version: \($qt_windows_version[+-].*\)/\1/p" | head -n 1)
    if [ -n "$version" ] && (cd "$dir/$module.download" &&
        debian_source_apt apt-get source --download-only "$package=$version" >/dev/null 2>&1); then
        dsc=$(cd "$dir/$module.download" && ls ./*.dsc)
        log "windows: unpacking Debian's ${dsc#./}"
        # apt checked the files against the archive's signed index; dpkg-source checks them
        # against the .dsc (whose own signature it has no key for, and says so).
        (cd "$dir/$module.download" && dpkg-source -x "$dsc" "$dir/$module" >/dev/null 2>&1) ||
            windows_fail "unpacking $dsc" "remove $dir and run it again"
        rm -f "$dir"/*.orig.tar.*
        {
            printf 'Debian source package %s\n' "${dsc#./}"
            (cd "$dir/$module.download" && sha256sum ./*)
        } >"$dir/$module.origin"
    else
        tarball=${WORKBENCH_QT_SOURCES:-}/$module-everywhere-opensource-src-$qt_windows_version.tar.xz
        if [ -z "${WORKBENCH_QT_SOURCES:-}" ] || [ ! -f "$tarball" ]; then
            windows_fail "fetching the source of $module" "the archive does not serve \
$package $qt_windows_version; put upstream's $module-everywhere-opensource-src-$qt_windows_version.tar.xz \
in a folder and run it again with WORKBENCH_QT_SOURCES=that-folder"
        fi
        sum=$(sha256sum "$tarball" | cut -d' ' -f1)
        if [ "$module" = qtserialport ] &&
            [ "$sum" != 2efb75fd2bf8741e5dc7e5401368174b21ee80c1bc09af4b7ef5bb81d7306ec4 ]; then
            windows_fail "checking $tarball" "its sha256 is not upstream's v$qt_windows_version"
        fi
        log "windows: unpacking $tarball"
        mkdir -p "$dir/$module"
        tar -xJf "$tarball" -C "$dir/$module" --strip-components=1 ||
            windows_fail "unpacking $tarball" "check the file and run it again"
        printf 'upstream tarball %s\n%s  %s\n' "${tarball##*/}" "$sum" "${tarball##*/}" \
            >"$dir/$module.origin"
    fi
    rm -rf "$dir/$module.download"
}

# build_windows_qt: the cross-built Qt in the cache, built once per machine and recipe.
build_windows_qt() {
    local prefix work started minutes
    prefix=$(qt_windows_prefix)
    if qt_windows_ready; then
        log "windows: Qt $qt_windows_version for MinGW from the cache: $prefix"
        return 0
    fi
    command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
        windows_fail "finding the MinGW-w64 cross compiler" \
            "install g++-mingw-w64-x86-64-posix and run it again"
    log "windows: fetching Qt's sources into $cache_root/sources"
    debian_source_setup || windows_fail "reading the Debian source index" \
        "check the network and run it again"
    fetch_qt_source qtbase qtbase-opensource-src
    fetch_qt_source qtserialport qtserialport-opensource-src
    fetch_qt_source qtcharts qtcharts-opensource-src

    # Built beside its final place and moved there whole, stamp last: a build that stops
    # half-way leaves only the .partial folder, which the next run starts again from scratch.
    work=$cache_root/qt-build
    rm -rf "$prefix.partial" "$work"
    log "windows: building Qt $qt_windows_version for MinGW (17 minutes on an idle two-core machine here, 30 beside other builds); log in $work.log"
    started=$(date +%s)
    if ! bash "$qt_recipe" "$prefix.partial" "$work" "$cache_root/sources/qtbase" \
        "$cache_root/sources/qtserialport" "$cache_root/sources/qtcharts" >"$work.log" 2>&1; then
        tail -n 20 "$work.log" >&2
        windows_fail "building Qt (see $work.log)" "run it again; it starts the Qt build afresh"
    fi
    cat "$cache_root"/sources/{qtbase,qtserialport,qtcharts}.origin >"$prefix.partial/SOURCES.txt"
    cp "$qt_recipe" "$prefix.partial/build-qt.sh"
    minutes=$((($(date +%s) - started + 59) / 60))
    printf '%s\n' "$minutes" >"$prefix.partial/build-minutes"
    mv "$prefix.partial" "$prefix"
    touch "$prefix/.complete"
    rm -rf "$work"
    log "windows: Qt built in $minutes min: $prefix"
}

windows_dir=$build_root/build-windows
windows_tree=$windows_dir/cmake

# build_windows_programs: both window programs and the suites that need no pty, cross-built
# with the tree's toolchain file from the same CMakeLists.txt.
build_windows_programs() {
    log "windows: cross-building in $windows_tree"
    # A tree configured against another Qt keeps that Qt's paths in its cache: start afresh.
    if [ -f "$windows_tree/CMakeCache.txt" ] &&
        ! grep -qxF "WORKBENCH_WINDOWS_QT:UNINITIALIZED=$(qt_windows_prefix)" \
            "$windows_tree/CMakeCache.txt"; then
        rm -rf "$windows_tree"
    fi
    cmake -S "$source_dir" -B "$windows_tree" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
        -DWORKBENCH_WINDOWS_QT="$(qt_windows_prefix)" >/dev/null ||
        windows_fail "configuring the cross build" "see the CMake output above"
    cmake --build "$windows_tree" -j "$jobs" >/dev/null ||
        windows_fail "cross-building the programs" "run it again to see the compiler's errors"
}

windows_version() {
    sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows_tree/CMakeCache.txt"
}

# The folders a program's DLLs are looked for in, after its own.
windows_dll_dirs() {
    printf '%s\n' "$(qt_windows_prefix)/bin" \
        "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")" \
        /usr/x86_64-w64-mingw32/lib
}

# deploy_windows_dlls DIR: copies into DIR every DLL that its programs and plugins import,
# walked transitively with objdump (Qt's windeployqt cannot read Windows programs on Linux).
# Whatever none of the folders has is the system's (KERNEL32.dll, msvcrt.dll, ...).
deploy_windows_dlls() {
    local dir=$1 changed=1 binary name found candidate
    local -a search
    mapfile -t search < <(windows_dll_dirs)
    while [ "$changed" -eq 1 ]; do
        changed=0
        while IFS= read -r -d '' binary; do
            while read -r name; do
                [ -e "$dir/$name" ] && continue
                found=
                for candidate in "${search[@]}"; do
                    # Windows matches DLL names without regard to case.
                    found=$(find "$candidate" -maxdepth 1 -iname "$name" -print -quit 2>/dev/null)
                    [ -n "$found" ] && break
                done
                [ -n "$found" ] || continue
                cp "$found" "$dir/$name"
                changed=1
            done < <(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^\tDLL Name: //p')
        done < <(find "$dir" \( -name '*.exe' -o -name '*.dll' \) -print0)
    done
}

# windows_licenses DIR: the licenses of Qt and of the code it bundles, and of the MinGW-w64
# runtime, as their sources state them.
windows_licenses() {
    local dir=$1 sources=$cache_root/sources
    if [ ! -d "$sources/qtbase/debian" ] || [ ! -d "$sources/qtcharts/debian" ] ||
        [ ! -f "$sources/qtserialport/LICENSE.LGPL3" ]; then
        debian_source_setup
        fetch_qt_source qtbase qtbase-opensource-src
        fetch_qt_source qtserialport qtserialport-opensource-src
        fetch_qt_source qtcharts qtcharts-opensource-src
    fi
    mkdir -p "$dir"
    cp "$sources/qtbase/LICENSE.LGPL3" "$dir/Qt-LGPL-3.0.txt"
    cp "$sources/qtbase/LICENSE.GPL3" "$dir/Qt-GPL-3.0.txt"
    cp "$sources/qtbase/LICENSE.GPL2" "$dir/Qt-GPL-2.0.txt"
    # Debian's copyright files name every bundled library (zlib, libpng, FreeType, HarfBuzz,
    # PCRE2, ...) with its license.
    cp "$sources/qtbase/debian/copyright" "$dir/qtbase-copyright.txt"
    cp "$sources/qtcharts/debian/copyright" "$dir/qtcharts-copyright.txt"
    cp /usr/share/doc/gcc-mingw-w64-base/copyright "$dir/gcc-runtime-copyright.txt"
    cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$dir/mingw-w64-copyright.txt"
    cp "$qt_recipe" "$dir/build-qt.sh"
}

# stage_windows DIR VERSION: the folder that runs where it is unpacked.
stage_windows() {
    local dir=$1 version=$2 commit
    rm -rf "$dir"
    mkdir -p "$dir/platforms" "$dir/styles"
    cp "$windows_tree/sensor_workbench.exe" "$windows_tree/sensor_workbench_basic.exe" "$dir/"
    cp "$(qt_windows_prefix)/plugins/platforms/qwindows.dll" "$dir/platforms/"
    # The style of Windows' own controls; without it widgets take Qt's plain Windows 95 look.
    cp "$(qt_windows_prefix)/plugins/styles/qwindowsvistastyle.dll" "$dir/styles/"
    deploy_windows_dlls "$dir"
    # Debian's runtime DLLs carry their symbols (libstdc++-6.dll: 23.7 MB, 2 MB without).
    find "$dir" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip \
        --strip-unneeded {} +
    cp "$source_dir/resources/windows/sensor_workbench.ico" "$dir/"
    cp "$source_dir/LICENSE" "$dir/LICENSE.txt"
    windows_licenses "$dir/licenses"
    sed "s/@VERSION@/$version/g" "$source_dir/packaging/windows/README-Windows.txt" |
        sed 's/$/\r/' >"$dir/README.txt"
    commit=$(git -C "$source_dir" rev-parse HEAD 2>/dev/null || echo unknown)
    {
        printf 'Where the exact sources of this folder are\r\n\r\n'
        printf 'sensor_workbench %s: the project'"'"'s source tree at commit %s (the\r\n' "$version" "$commit"
        printf 'programs were cross-built from it with cmake/mingw-w64-x86_64.cmake; the same\r\n'
        printf 'sources as its Debian package).\r\n\r\n'
        printf 'Qt %s for x86_64-w64-mingw32, built by licenses/build-qt.sh from:\r\n' \
            "$qt_windows_version"
        sed 's/$/\r/' "$(qt_windows_prefix)/SOURCES.txt"
        printf '\r\nDebian'"'"'s source packages are kept at https://snapshot.debian.org/ under their\r\n'
        printf 'names and versions; upstream Qt tarballs at https://download.qt.io/archive/qt/5.15/.\r\n'
        printf '\r\nThe MinGW-w64 runtime DLLs are Debian 12'"'"'s (gcc-mingw-w64 and mingw-w64 source\r\n'
        printf 'packages, at the versions %s).\r\n' \
            "$(dpkg-query -W -f='${source:Package} ${Version}, ' gcc-mingw-w64-x86-64-posix-runtime mingw-w64-x86-64-dev | sed 's/, $//')"
    } >"$dir/SOURCES.txt"
}

# nsis_file_list STAGE OUT: the install and uninstall lines for every file in STAGE.
nsis_file_list() {
    local stage=$1 out=$2 file folder
    {
        printf '!ifdef INSTALL_FILES\n'
        (cd "$stage" && find . -type d ! -name . | sort) | while read -r folder; do
            folder=${folder#./}
            printf 'CreateDirectory "$INSTDIR\\%s"\n' "${folder//\//\\}"
        done
        (cd "$stage" && find . -type f | sort) | while read -r file; do
            file=${file#./}
            folder=$(dirname "$file")
            if [ "$folder" = . ]; then
                printf 'SetOutPath "$INSTDIR"\n'
            else
                printf 'SetOutPath "$INSTDIR\\%s"\n' "${folder//\//\\}"
            fi
            printf 'File "%s/%s"\n' "$stage" "$file"
        done
        printf 'SetOutPath "$INSTDIR"\n!endif\n!ifdef UNINSTALL_FILES\n'
        (cd "$stage" && find . -type f | sort) | while read -r file; do
            file=${file#./}
            printf 'Delete "$INSTDIR\\%s"\n' "${file//\//\\}"
        done
        (cd "$stage" && find . -type d ! -name . | sort -r) | while read -r folder; do
            folder=${folder#./}
            printf 'RMDir "$INSTDIR\\%s"\n' "${folder//\//\\}"
        done
        printf '!endif\n'
    } >"$out"
}

# package_windows: the zip and the installer in build-windows/.
package_windows() {
    local version name stage zip setup
    version=$(windows_version)
    name=sensor-workbench-$version-win64
    stage=$windows_dir/$name
    zip=$windows_dir/$name.zip
    setup=$windows_dir/$name-setup.exe
    log "windows: staging $stage"
    stage_windows "$stage" "$version"
    rm -f "$zip"
    (cd "$windows_dir" && cmake -E tar cf "$zip" --format=zip "$name") ||
        windows_fail "making $zip" "run it again"
    nsis_file_list "$stage" "$windows_dir/installer-files.nsh"
    rm -f "$setup"
    makensis -V2 -DVERSION="$version" -DSTAGE="$stage" \
        -DFILES="$windows_dir/installer-files.nsh" -DOUTFILE="$setup" \
        "$source_dir/packaging/windows/installer.nsi" >&2 ||
        windows_fail "making the installer with makensis" "see its output above"
    log "windows: $zip ($(du -k "$zip" | cut -f1) KiB)"
    log "windows: $setup ($(du -k "$setup" | cut -f1) KiB)"
}

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
windows_test_port=COM5
windows_screenshot=${WORKBENCH_WINDOWS_SCREENSHOT:-}

# start_windows_display: a virtual X server of our own for Wine's windows; sets DISPLAY.
start_windows_display() {
    local fifo number
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r number <"$fifo"
    rm -f "$fifo"
    export DISPLAY=:$number
}

# wine_stop: ends the prefix's wineserver and, with it, every Wine process of the prefix.
# (Ended with SIGTERM the server leaves Wine's services behind, forever; with -k it takes
# them along, and prints its object table, which nobody needs.)
wine_stop() {
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w >/dev/null 2>&1 || true
}

# wine_run TIMEOUT PROGRAM ARGS...: a Windows program under the test's prefix; its status.
wine_run() {
    local seconds=$1
    shift
    timeout -k 10 "$seconds" "$wine" "$@" </dev/null
}

# windows_suite NAME ARGS...: one QtTest suite; QtTest's report goes to a file (Wine does not
# hand a console program's output to a pipe), a line of totals to the log.
windows_suite() {
    local name=$1 report status=0 totals
    shift
    report=$windows_results/$name.txt
    rm -f "$report"
    (cd "$windows_run_dir" && wine_run 600 "$name.exe" "$@" -o "$(winepath_of "$report"),txt") \
        >/dev/null 2>&1 || status=$?
    totals=$(tr -d '\r' <"$report" 2>/dev/null | grep -E '^Totals:' || echo 'no report')
    printf '%-28s %s (status %s)\n' "$name" "$totals" "$status" | tee -a "$windows_summary" >&2
    if [ "$status" -ne 0 ]; then
        tr -d '\r' <"$report" 2>/dev/null | grep -E -A2 '^(FAIL|QWARN|XPASS)' | head -n 40 >&2
        return 1
    fi
}

# The path Windows programs under Wine see for a Unix path (drive Z: is /).
winepath_of() {
    printf 'Z:%s\n' "${1//\//\\}"
}

# windows_e2e: the window on COM5, whose other end is sensor_simulator on a pty; the
# simulator is ended when the suite asks for the adapter to be pulled.
windows_e2e() {
    local simulator=$build_root/build/sensor_simulator options pty link pulled sim_pid status=0
    link=$windows_results/com-port
    pulled=$windows_results/pull-the-adapter
    rm -f "$pulled"
    # Into a file, not a pipe: Wine's services started by this call would hold a pipe open.
    (cd "$windows_run_dir" && wine_run 60 tst_com_port.exe --simulator-options) \
        >"$windows_results/simulator.options" 2>/dev/null
    options=$(tr -d '\r' <"$windows_results/simulator.options")
    # shellcheck disable=SC2086  # options are words
    "$simulator" $options >"$windows_results/simulator.pty" 2>"$windows_results/simulator.log" &
    sim_pid=$!
    for _ in $(seq 50); do
        [ -s "$windows_results/simulator.pty" ] && break
        sleep 0.1
    done
    pty=$(head -n 1 "$windows_results/simulator.pty")
    [ -n "$pty" ] || { log "windows-test: sensor_simulator gave no pty"; return 1; }
    ln -sfn "$pty" "$link"
    # Wine maps a COM port to a Unix device through the registry, read when wineserver starts.
    wine_run 60 reg add 'HKLM\Software\Wine\Ports' /v "$windows_test_port" /t REG_SZ \
        /d "$link" /f >/dev/null 2>&1
    wine_stop
    # The pulled adapter: the suite's last test asks for it with a file.
    (
        for _ in $(seq 1800); do
            if [ -e "$pulled" ]; then
                kill -TERM "$sim_pid" 2>/dev/null
                exit 0
            fi
            sleep 0.1
        done
    ) &
    windows_suite tst_com_port -port "$windows_test_port" -pulled "$(winepath_of "$pulled")" \
        ${windows_screenshot:+-screenshot "$(winepath_of "$windows_screenshot")"} || status=1
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    tr -d '\r' <"$windows_results/tst_com_port.txt" | grep -E '^QINFO' | sed 's/^QINFO  : /    /' |
        tee -a "$windows_summary" >&2
    return "$status"
}

# windows_installer_test: the installer puts both programs and their Start menu entries in
# place; the uninstaller takes away everything it put there.
windows_installer_test() {
    local setup=$1 dir menu failed=0 left
    dir=$WINEPREFIX/drive_c/Program\ Files/sensor_workbench
    menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/KORV47D1\ 传感器调试
    wine_run 300 "$setup" /S >/dev/null 2>&1 || failed=1
    "$wineserver" -w || true
    for file in sensor_workbench.exe sensor_workbench_basic.exe Qt5Core.dll platforms/qwindows.dll \
        uninstall.exe; do
        [ -f "$dir/$file" ] || { log "windows-test: the installer put no $file"; failed=1; }
    done
    for link in "KORV47D1 传感器调试.lnk" "KORV47D1 传感器调试（基础版）.lnk"; do
        [ -f "$menu/$link" ] || { log "windows-test: no Start menu entry $link"; failed=1; }
    done
    wine_run 60 reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\sensor_workbench' \
        >/dev/null 2>&1 || { log "windows-test: no uninstall entry in the registry"; failed=1; }
    # The uninstaller copies itself away and runs from there; wineserver -w waits for it.
    wine_run 300 "$dir/uninstall.exe" /S >/dev/null 2>&1 || failed=1
    "$wineserver" -w || true
    left=$( (find "$dir" "$menu" 2>/dev/null || true) | head -n 5)
    [ -z "$left" ] || { log "windows-test: the uninstaller left $left"; failed=1; }
    if wine_run 60 reg query \
        'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\sensor_workbench' >/dev/null 2>&1; then
        log "windows-test: the uninstaller left its registry entry"
        failed=1
    fi
    if [ "$failed" -eq 0 ]; then
        printf '%-28s installed (files, Start menu entries, uninstall entry), then uninstalled without a trace\n' \
            installer | tee -a "$windows_summary" >&2
    fi
    return "$failed"
}

# windows_test: everything under Wine on a virtual X server, from the cross-built programs.
windows_test() {
    local version stage failed=0 suite started
    version=$(windows_version)
    stage=$windows_dir/sensor-workbench-$version-win64
    [ -d "$stage" ] || windows_fail "finding $stage" "run scripts/workbench.sh windows first"
    windows_results=$windows_dir/test-results
    windows_summary=$windows_results/summary.txt
    windows_run_dir=$windows_dir/test-run
    rm -rf "$windows_results" "$windows_run_dir"
    mkdir -p "$windows_results"
    # The shipped folder, with the tests and QtTest beside the programs: the suites load the
    # very DLLs the zip carries.
    cp -a "$stage" "$windows_run_dir"
    cp "$(qt_windows_prefix)/bin/Qt5Test.dll" "$windows_run_dir/"
    cp "$windows_tree"/tests/tst_*.exe "$windows_run_dir/"

    export WINEPREFIX=$windows_dir/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wine_stop
    rm -rf "$WINEPREFIX"
    start_windows_display
    # shellcheck disable=SC2064  # the pid is fixed now
    trap "wine_stop; kill $xvfb_pid 2>/dev/null" RETURN
    started=$(date +%s)
    log "windows-test: a Wine prefix of its own in $WINEPREFIX"
    wine_run 300 wineboot -i >/dev/null 2>&1 || true
    "$wineserver" -w || true

    for suite in "$windows_run_dir"/tst_*.exe; do
        suite=$(basename "$suite" .exe)
        [ "$suite" = tst_com_port ] && continue
        windows_suite "$suite" || failed=1
    done
    windows_e2e || failed=1
    windows_installer_test "$windows_dir/sensor-workbench-$version-win64-setup.exe" || failed=1
    log "windows-test: $(($(date +%s) - started)) s; results in $windows_results"
    return "$failed"
}

# windows_in_test: what scripts/workbench.sh test runs of the Windows build. Building Qt takes
# too long for every run, so without a cross-built Qt in the cache this says so and goes on.
windows_in_test() {
    if ! compgen -G "$cache_root/qt-$qt_windows_version-mingw64-*/.complete" >/dev/null; then
        log "windows: no cross-built Qt in $cache_root, so the Windows build and its tests are skipped (scripts/workbench.sh windows builds it once, 17 to 30 minutes here)"
        return 0
    fi
    install_missing "${windows_packages[@]}" "${wine_packages[@]}"
    if ! qt_windows_ready; then
        log "windows: the cross-built Qt in $cache_root is another recipe's, so the Windows build and its tests are skipped (scripts/workbench.sh windows builds this one)"
        return 0
    fi
    build_windows_programs
    package_windows
    windows_test || {
        log "windows-test failed: see $windows_results"
        exit 1
    }
}

# windows_fresh_run RECORD: windows and windows-test from an empty cache of their own, each
# step timed, the outcome written to RECORD (the committed tree's last such run).
windows_fresh_run() {
    local record=$1 commit started step_started status=0 steps=() name
    commit=$(git -C "$source_dir" rev-parse HEAD)
    cache_root=$(mktemp -d "${TMPDIR:-/tmp}/sensor-workbench-cache.XXXXXX")
    started=$(date +%s)
    timed() {
        name=$1
        shift
        step_started=$(date +%s)
        # In a subshell: a failing step's windows_fail must still leave a record.
        if ("$@"); then
            steps+=("$(printf '%-26s %4d s' "$name" $(($(date +%s) - step_started)))")
        else
            steps+=("$(printf '%-26s %4d s  FAILED' "$name" $(($(date +%s) - step_started)))")
            status=1
        fi
    }
    timed "installing packages" install_missing "${windows_packages[@]}" "${wine_packages[@]}" \
        "${build_packages[@]}"
    [ "$status" -eq 0 ] && timed "Qt (empty cache)" build_windows_qt
    [ "$status" -eq 0 ] && timed "both programs" build_windows_programs
    [ "$status" -eq 0 ] && timed "zip and installer" package_windows
    [ "$status" -eq 0 ] && timed "simulator (Linux build)" build "$build_root/build" \
        -DWORKBENCH_QT_MAJOR=5
    [ "$status" -eq 0 ] && timed "windows-test" windows_test
    {
        printf 'finished:        %s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')"
        printf 'system:          Debian %s, kernel %s; %s\n' "$(cat /etc/debian_version)" \
            "$(uname -r)" "$(x86_64-w64-mingw32-g++-posix --version | head -n 1)"
        printf 'machine:         %s, %s cores; load average at the start %s\n' \
            "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)" "$jobs" \
            "$(cut -d' ' -f1-3 /proc/loadavg)"
        printf 'commit:          %s\n' "$commit"
        printf 'priority:        nice %s\n' "$(ps -o ni= -p $$ | tr -d ' ')"
        printf 'ran:             scripts/workbench.sh windows and windows-test, from an empty cache\n'
        printf 'steps:\n'
        printf '                 %s\n' "${steps[@]}"
        printf '                 %-26s %4d s\n' "all" $(($(date +%s) - started))
        if [ -f "${windows_dir}/sensor-workbench-$(windows_version)-win64.zip" ]; then
            printf 'sizes:           zip %s KiB, installer %s KiB, unpacked %s KiB, Qt in the cache %s KiB\n' \
                "$(du -k "$windows_dir"/sensor-workbench-*-win64.zip | cut -f1)" \
                "$(du -k "$windows_dir"/sensor-workbench-*-win64-setup.exe | cut -f1)" \
                "$(du -sk "$windows_dir/sensor-workbench-$(windows_version)-win64" | cut -f1)" \
                "$(du -sk "$(qt_windows_prefix)" | cut -f1)"
        fi
        if [ -f "$windows_dir/test-results/summary.txt" ]; then
            printf 'windows-test:\n'
            sed 's/^/                 /' "$windows_dir/test-results/summary.txt"
        fi
        [ "$status" -eq 0 ] && printf 'outcome:         passed\n' || printf 'outcome:         FAILED\n'
    } >"$record"
    rm -rf "$cache_root"
    log "recorded in $record"
    return "$status"
}
