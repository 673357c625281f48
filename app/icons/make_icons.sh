#!/bin/sh
# Draws the Lathmark icon, a stack of fibreboard seen edge on, at the sizes the desktop asks
# for. Each size is drawn on its own pixel grid, so the joints stay sharp at 16 pixels too.
# Needs ImageMagick's convert. Run from anywhere; writes lathmark-<size>.png beside itself.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

face='#d8b27a'   # board edge, light fibreboard
joint='#4a3219'  # the dark line between two boards
shade='#b48a52'  # lower rim of each board

draw() {
    size=$1 boards=$2
    margin=$((size / 16))
    [ "$margin" -ge 1 ] || margin=1
    line=$((size / 32))
    [ "$line" -ge 1 ] || line=1
    stagger=$((size / 16))
    top=$((margin + size / 8))
    bottom=$((size - margin - size / 8))
    height=$((bottom - top))
    pitch=$((height / boards))
    commands=""
    i=0
    while [ "$i" -lt "$boards" ]; do
        y0=$((top + i * pitch))
        y1=$((y0 + pitch - 1))
        # Boards in a real stack never line up exactly; every other one sits a little right.
        if [ $((i % 2)) -eq 0 ]; then x0=$margin; x1=$((size - 1 - margin - stagger));
        else x0=$((margin + stagger)); x1=$((size - 1 - margin)); fi
        commands="$commands fill $joint rectangle $x0,$y0 $x1,$y1"
        commands="$commands fill $face rectangle $((x0 + line)),$((y0 + line)) $((x1 - line)),$((y1 - line))"
        rim=$((pitch / 5))
        if [ "$rim" -ge 1 ] && [ "$size" -ge 32 ]; then
            commands="$commands fill $shade rectangle $((x0 + line)),$((y1 - line - rim + 1)) $((x1 - line)),$((y1 - line))"
        fi
        i=$((i + 1))
    done
    convert -size "${size}x${size}" xc:none -draw "$commands" \
        -define png:exclude-chunks=date,time "$here/lathmark-$size.png"
}

draw 16 3
draw 32 4
draw 48 5
draw 128 5
