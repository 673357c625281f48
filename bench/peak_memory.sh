#!/usr/bin/env bash
# Peak memory of lathmark-count counting one 4000 x 3000 photograph, against 2.5 times its
# decoded 24-bit size (36 MB, so at most 90 MB; MB here is 10^6 bytes).
#
#   bash bench/peak_memory.sh BUILD_DIR
#
# Builds nothing: BUILD_DIR/bin/lathmark-count and BUILD_DIR/bin/lathmark-bench-photograph
# must exist. The photograph is drawn by the sample generator; the count writes its result
# image (--marked), as a full count does. The peak is the "Maximum resident set size" that
# GNU time reports. A run on a 1 x 1 photograph, which is decoded and refused, gives the
# process's own overhead (program, libraries, heap set-up); the peak less that baseline is
# reported too. Prints PASS or FAIL for both figures and exits 0 either way; it exits 2 when it
# cannot measure.
set -euo pipefail

width=4000
height=3000
build=${1:-}
if [ -z "$build" ] || [ ! -x "$build/bin/lathmark-count" ] ||
   [ ! -x "$build/bin/lathmark-bench-photograph" ]; then
  echo "usage: $0 BUILD_DIR   (needs lathmark-count and lathmark-bench-photograph in BUILD_DIR/bin)" >&2
  exit 2
fi
if [ ! -x /usr/bin/time ]; then
  echo "GNU time is missing: apt-get install time" >&2
  exit 2
fi
bin=$(cd "$build/bin" && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-memory-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/marked"
"$bin/lathmark-bench-photograph" "$work/large.jpg" "$width" "$height" > /dev/null
"$bin/lathmark-bench-photograph" "$work/tiny.jpg" 1 1 > /dev/null

# Maximum resident set size in kilobytes (1024 bytes) of one run of lathmark-count.
peak_kib() {
  local photo=$1
  /usr/bin/time -v -o "$work/time" "$bin/lathmark-count" --jobs 1 --marked "$work/marked" \
    "$photo" > "$work/out" 2> "$work/err" || true
  awk -F': *' '/Maximum resident set size/ { print $2 }' "$work/time"
}

count_peak=$(peak_kib "$work/large.jpg")
if ! grep -q 'boards' "$work/out"; then
  echo "lathmark-count did not count the $width x $height photograph:" >&2
  cat "$work/err" >&2
  exit 2
fi
baseline=$(peak_kib "$work/tiny.jpg")

awk -v peak="$count_peak" -v base="$baseline" -v w="$width" -v h="$height" 'BEGIN {
  decoded = w * h * 3 / 1e6
  limit = decoded * 2.5
  mb = peak * 1024 / 1e6
  base_mb = base * 1024 / 1e6
  net = mb - base_mb
  printf "decoded 24-bit size: %.1f MB, limit 2.5 x = %.1f MB\n", decoded, limit
  printf "baseline (1 x 1 photograph): %.1f MB\n", base_mb
  printf "peak_raw %.1f MB (%.2f x decoded) target <= %.1f MB %s\n", mb, mb / decoded, limit,
         (mb <= limit) ? "PASS" : "FAIL"
  printf "peak_net %.1f MB (%.2f x decoded) target <= %.1f MB %s\n", net, net / decoded, limit,
         (net <= limit) ? "PASS" : "FAIL"
}'
