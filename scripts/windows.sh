# The Windows build, sourced by scripts/workbench.sh: a cross-built Qt cached outside the tree,
# both window programs cross-built from the same CMakeLists.txt, a zip and an NSIS installer,
# and the Windows tests under Wine. Uses workbench.sh's log, as_root, install_missing,
# source_dir, build_root and jobs.

qt_windows_version=5.15.8
windows_packages=(g++-mingw-w64-x86-64-posix dpkg-dev xz-utils nsis)
wine_packages=(wine64 xvfb xauth fonts-wqy-microhei)
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
    [ -f "$(qt_windows_prefix)/.complete" ]
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
    log "windows: building Qt $qt_windows_version for MinGW (about 50 minutes here); log in $work.log"
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
