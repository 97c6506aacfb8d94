#!/usr/bin/env bash
# Renders the README's pictures of the main window into docs/screenshots/.
#
#   scripts/screenshots.sh [BUILD_DIRECTORY]      (default: build/ in the source tree,
#                                                  or $WORKBENCH_BUILD_ROOT/build)
#
# Builds take_screenshots and runs it headless. It needs the WenQuanYi Micro Hei font
# (Debian: fonts-wqy-microhei; scripts/workbench.sh build installs it); without it the Chinese
# captions would come out as empty boxes, and the tool refuses to run. The acquisition picture
# takes about 20 s: the window really acquires from the simulated sensor on a pseudo-terminal.
set -euo pipefail

source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${1:-${WORKBENCH_BUILD_ROOT:-$source_dir}/build}
output_dir=$source_dir/docs/screenshots
jobs=$(nproc 2>/dev/null || echo 2)

log() { printf '== %s\n' "$*" >&2; }

if ! ls /usr/share/fonts/truetype/wqy/wqy-microhei.ttc >/dev/null 2>&1 &&
    ! fc-list 2>/dev/null | grep -qi 'WenQuanYi Micro Hei'; then
    log "font WenQuanYi Micro Hei missing: install fonts-wqy-microhei"
    exit 1
fi

log "building take_screenshots in $build_dir"
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" --target take_screenshots -j "$jobs"

log "rendering into $output_dir"
QT_QPA_PLATFORM=offscreen "$build_dir/take_screenshots" "$output_dir"
