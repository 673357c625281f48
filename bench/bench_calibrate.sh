#!/usr/bin/env bash
# Time and memory of lathmark-count --calibrate over 30 photographs of 768 x 576 with --jobs 2.
#
#   bash bench/bench_calibrate.sh BUILD_DIR [RUNS]
#
# Builds nothing: BUILD_DIR/bin/lathmark-count and BUILD_DIR/bin/lathmark-bench-photograph must
# exist. The 30 photographs are the 8 of samples/dim/, copied into a temporary folder until
# there are 30, with their truth.tsv. The calibration runs RUNS times (default 5) after one
# untimed run; the median elapsed time is reported. Memory: the peak resident set size that GNU
# time reports for --jobs 1 and --jobs 2, less that of a run on one 1 x 1 photograph (decoded
# and refused), per photograph being searched at once, against 32 MB (10^6 bytes). Exits 0
# whatever the figures; 2 when it cannot measure.
set -euo pipefail

target_mb=32
build=${1:-}
runs=${2:-5}
if [ -z "$build" ] || [ ! -x "$build/bin/lathmark-count" ] ||
   [ ! -x "$build/bin/lathmark-bench-photograph" ]; then
  echo "usage: $0 BUILD_DIR [RUNS]   (needs lathmark-count and lathmark-bench-photograph)" >&2
  exit 2
fi
if [ ! -x /usr/bin/time ]; then
  echo "GNU time is missing: apt-get install time" >&2
  exit 2
fi
bin=$(cd "$build/bin" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-calibrate-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/photos"
printf 'file\tboards\n' > "$work/photos/truth.tsv"
copies=0
while [ "$copies" -lt 30 ]; do
  while IFS=$'\t' read -r file boards && [ "$copies" -lt 30 ]; do
    copies=$((copies + 1))
    cp "$root/samples/dim/$file" "$work/photos/c${copies}_$file"
    printf 'c%s_%s\t%s\n' "$copies" "$file" "$boards" >> "$work/photos/truth.tsv"
  done < <(tail -n +2 "$root/samples/dim/truth.tsv")
done
"$bin/lathmark-bench-photograph" "$work/tiny.jpg" 1 1 > /dev/null
printf 'file\tboards\ntiny.jpg\t1\n' > "$work/tiny.tsv"

calibrate() {
  "$bin/lathmark-count" --bdline 40 --threshold 128 --jobs "$1" --calibrate "$2"
}

elapsed() {
  local TIMEFORMAT='%3R'
  { time calibrate 2 "$work/photos/truth.tsv" > "$work/out" 2> "$work/err"; } 2>&1 ||
    { echo "lathmark-count --calibrate failed:" >&2; cat "$work/err" >&2; exit 2; }
  grep -q '^Chosen: .* counts 30 of 30 photographs right' "$work/out" ||
    { echo "the calibration did not count all 30 photographs right:" >&2; cat "$work/out" >&2; exit 2; }
}

# Maximum resident set size in kilobytes (1024 bytes) of one calibration.
peak_kib() {
  /usr/bin/time -v -o "$work/time" "$bin/lathmark-count" --bdline 40 --threshold 128 \
    --jobs "$1" --calibrate "$2" > /dev/null 2>&1 || true
  awk -F': *' '/Maximum resident set size/ { print $2 }' "$work/time"
}

echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
elapsed > /dev/null
times=()
for run in $(seq 1 "$runs"); do
  times+=("$(elapsed)")
  echo "run $run: ${times[-1]} s"
done
median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{ v[NR] = $1 } END {
  if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "calibrate_seconds $median (30 photographs of 768 x 576, --jobs 2, median of $runs)"

baseline=$(peak_kib 1 "$work/tiny.tsv")
for jobs in 1 2; do
  peak=$(peak_kib "$jobs" "$work/photos/truth.tsv")
  awk -v peak="$peak" -v base="$baseline" -v jobs="$jobs" -v target="$target_mb" 'BEGIN {
    mb = peak * 1024 / 1e6; base_mb = base * 1024 / 1e6; per = (mb - base_mb) / jobs
    printf "calibrate_memory_jobs%d %.1f MB per photograph searched (peak %.1f MB, baseline %.1f MB) target <= %d MB %s\n",
           jobs, per, mb, base_mb, target, (per <= target) ? "PASS" : "FAIL"
  }'
done
