#!/bin/sh
# Makes the README's picture of the report: lathmark-count --report over two samples whose
# joints were found by three passes, opened in headless Chromium, the top of the page kept as a
# small PNG.
#
#   tools/screenshot_report.sh [output.png]
#
# output: default doc/report.png in the source tree. Builds nothing: build/bin/lathmark-count
# must exist. Needs chromium and ImageMagick's convert.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/build/bin/lathmark-count"
output=${1:-"$root/doc/report.png"}
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac

[ -x "$program" ] || { echo "screenshot_report: $program is missing; build first" >&2; exit 1; }
for tool in chromium convert; do
    command -v "$tool" >/dev/null || { echo "screenshot_report: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# From the source tree, so that the page names the photographs samples/...
(cd "$root" && "$program" --bdline 40 --threshold 128 --report "$work/report.html" \
    samples/stack_10.jpg samples/stack_08.jpg >/dev/null)
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --hide-scrollbars --window-size=820,1000 \
    --screenshot="$work/page.png" "file://$work/report.html" 2>/dev/null
mkdir -p "$(dirname "$output")"
convert "$work/page.png" -crop 820x960+0+0 +repage -colors 128 -strip "PNG8:$output"
echo "$output"
