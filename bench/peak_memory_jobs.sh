#!/usr/bin/env bash
# Peak memory of lathmark-count over six photographs of 80 megapixels, with --jobs 6 against
# --jobs 1. The photographs counted at once share one pixel budget (engine/pixel_budget.h): a
# photograph waits for room before its picture is made, so --jobs 6 may peak at most twice as
# high as --jobs 1, however many jobs there are (MB here is 10^6 bytes).
#
#   bash bench/peak_memory_jobs.sh BUILD_DIR
#
# Builds nothing: BUILD_DIR/bin/lathmark-count and BUILD_DIR/bin/lathmark-bench-photograph
# must exist. One photograph is drawn by the sample generator and copied five times (copies,
# not links: six files). The peak is the "Maximum resident set size" that GNU time reports.
# Prints PASS or FAIL and exits 0 either way; it exits 2 when it cannot measure.
set -euo pipefail

width=10328
height=7746
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

work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-jobs-memory-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$bin/lathmark-bench-photograph" "$work/p1.jpg" "$width" "$height" > /dev/null
for i in 2 3 4 5 6; do cp "$work/p1.jpg" "$work/p$i.jpg"; done

# Maximum resident set size in kilobytes (1024 bytes) of a count of the six with `jobs` jobs.
peak_kib() {
  local jobs=$1
  /usr/bin/time -v -o "$work/time" "$bin/lathmark-count" --jobs "$jobs" --bdline 40 \
    --threshold 128 "$work"/p?.jpg > "$work/out" 2> "$work/err" || true
  if ! grep -q 'in 6 photographs' "$work/out"; then
    echo "lathmark-count --jobs $jobs did not count the six photographs:" >&2
    cat "$work/err" >&2
    exit 2
  fi
  awk -F': *' '/Maximum resident set size/ { print $2 }' "$work/time"
}

one=$(peak_kib 1)
six=$(peak_kib 6)
awk -v one="$one" -v six="$six" -v w="$width" -v h="$height" 'BEGIN {
  decoded = w * h * 3 / 1e6
  a = one * 1024 / 1e6
  b = six * 1024 / 1e6
  printf "six photographs of %d x %d (%.1f megapixels, %.0f MB decoded each)\n", w, h,
         w * h / 1e6, decoded
  printf "peak_jobs1 %.1f MB\n", a
  printf "peak_jobs6 %.1f MB\n", b
  printf "jobs_peak_ratio %.2f target <= 2 %s\n", b / a, (b <= 2 * a) ? "PASS" : "FAIL"
}'
