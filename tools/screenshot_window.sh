#!/bin/sh
# Takes a screenshot of the Lathmark window after it has counted the first photograph of a
# folder, on a virtual X screen, so the layout can be looked at without a desktop.
#
#   tools/screenshot_window.sh [folder] [output.png]
#
# folder: photographs to list (default: samples/ of the source tree). Its JPEG files are
# copied into a temporary working directory, so the test.bmp that the count writes does not
# land in the folder. output: default lathmark-window.png in the current directory. Builds
# nothing: build/bin/lathmark must exist. Needs xvfb-run, xdotool and ImageMagick's import.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
program="$root/build/bin/lathmark"
folder=${1:-"$root/samples"}
output=${2:-"$PWD/lathmark-window.png"}
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac

[ -x "$program" ] || { echo "screenshot_window: $program is missing; build first" >&2; exit 1; }
[ -d "$folder" ] || { echo "screenshot_window: $folder is not a folder" >&2; exit 1; }
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshot_window: $tool is not installed" >&2; exit 1; }
done

# The part that runs inside the virtual screen: start the window, wait for it, pick the first
# photograph from the keyboard (Tab twice from "New Book" reaches the list, Down selects its
# first entry), give the count time to finish, and photograph the screen.
inner=$(cat <<'INNER'
set -eu
program=$1 output=$2
"$program" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
window=""
for _ in $(seq 1 100); do
    window=$(xdotool search --sync --onlyvisible --name '^Lathmark$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "screenshot_window: the window did not appear" >&2; exit 1; }
xdotool windowmove "$window" 20 20
xdotool windowfocus --sync "$window" 2>/dev/null || true
sleep 0.5
xdotool key --window "$window" Tab Tab Down
sleep 2
import -window root "$output"
INNER
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
find "$folder" -maxdepth 1 -type f -iname '*.jpg' -exec cp {} "$work" \;
cd "$work"
xvfb-run -a -s "-screen 0 1024x768x24" sh -c "$inner" screenshot "$program" "$output"
echo "$output"
