#!/usr/bin/env bash
# Time and memory of lathmark-count --calibrate --find-region with --jobs 2 over generated
# station sets: 12 photographs of 2448 x 2048 and 8 of 1024 x 768.
#
#   bash bench/bench_find_region.sh BUILD_DIR [SETS] [KIND]
#
# Builds nothing: BUILD_DIR/bin/lathmark-count and BUILD_DIR/bin/lathmark-make-samples must
# exist. SETS is "large", "small" or "both" (the default). KIND is "smooth" (the default: the
# generator's plain station), "rough" (uneven light, grain and noise, as a real camera's: no two
# thresholds see the same rows and every BDLINE sweep meets many more rows, as on real station
# photographs) or "both". Each set is drawn by the sample
# generator into a temporary folder and calibrated once; the elapsed time is reported against 60
# seconds (large) or 15 seconds (small). Memory: the peak resident set size that GNU time reports,
# divided by the set's photographs (every photograph of a region search stays decoded, in grey,
# while the windows are searched), against 64 MB each. Prints "name value" lines. Exits 0
# whatever the figures; 2 when it cannot measure.
set -euo pipefail

build=${1:-}
sets=${2:-both}
kind=${3:-smooth}
if [ -z "$build" ] || [ ! -x "$build/bin/lathmark-count" ] ||
   [ ! -x "$build/bin/lathmark-make-samples" ]; then
  echo "usage: $0 BUILD_DIR [large|small|both] [smooth|rough|both]   (needs lathmark-count and lathmark-make-samples)" >&2
  exit 2
fi
if [ ! -x /usr/bin/time ]; then
  echo "GNU time is missing: apt-get install time" >&2
  exit 2
fi
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-find-region-XXXXXX")
trap 'rm -rf "$work"' EXIT

measure() {
  local name=$1 count=$2 width=$3 height=$4 seed=$5 target=$6 generator=--station
  case "$name" in rough_*) generator=--rough-station ;; esac
  "$bin/lathmark-make-samples" "$generator" "$work/$name" "$count" "$width" "$height" "$seed" > /dev/null
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -v -o "$work/$name.time" "$bin/lathmark-count" --bdline 40 --threshold 128 \
    --jobs 2 --calibrate "$work/$name/truth.tsv" --find-region > "$work/$name.out" 2> "$work/$name.err" ||
    { echo "lathmark-count --calibrate --find-region failed:" >&2; cat "$work/$name.err" >&2; exit 2; }
  end=$(date +%s.%N)
  local seconds kib
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  kib=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/$name.time")
  echo "== $count photographs of $width x $height ($generator)"
  sed 's/^/   /' "$work/$name.out" | head -6
  # How long the search was: the column windows it searched.
  sed -n 's/.*(found among \([0-9]*\) column windows).*/find_region_'"$name"'_windows \1/p' "$work/$name.out"
  echo "find_region_${name}_seconds $seconds"
  echo "find_region_${name}_target_seconds $target"
  awk -v k="$kib" -v n="$count" -v name="$name" \
    'BEGIN { printf "find_region_%s_memory_mb %.1f\n", name, k * 1024 / 1e6 / n }'
}

for k in smooth rough; do
  case "$kind" in "$k"|both) ;; *) continue ;; esac
  prefix=
  [ "$k" = rough ] && prefix=rough_
  case "$sets" in
    large|both) measure "${prefix}large" 12 2448 2048 21 60 ;;
  esac
  case "$sets" in
    small|both) measure "${prefix}small" 8 1024 768 22 15 ;;
  esac
done
