#!/usr/bin/env bash
# Throughput of lathmark-count over 240 photographs: the whole process with --jobs 1 against a
# bare decode of the same photographs in one process, and --jobs 2 against --jobs 1.
#
#   bash bench/bench_jobs.sh BUILD_DIR [RUNS]
#
# Builds nothing: BUILD_DIR/bin/lathmark-count and BUILD_DIR/bin/lathmark-bench-decode must
# exist. The 240 photographs are the bundled samples (10 photographs of about 768 x 576), each
# copied 24 times into a temporary folder. Each of the three runs RUNS times (default 11), taking
# turns so that all see the same state of the machine. Prints the figures, the ratios and PASS
# or FAIL against 1.3 (--jobs 1 over the decode) and 1.8 (--jobs 1 over --jobs 2), and exits 0
# either way; it exits 2 when it cannot measure.
set -euo pipefail

target=1.8
decode_target=1.3
build=${1:-}
runs=${2:-11}
if [ -z "$build" ] || [ ! -x "$build/bin/lathmark-count" ]; then
  echo "usage: $0 BUILD_DIR [RUNS]   (BUILD_DIR/bin/lathmark-count must exist)" >&2
  exit 2
fi
counter=$(cd "$build/bin" && pwd)/lathmark-count
decoder=$(cd "$build/bin" && pwd)/lathmark-bench-decode
[ -x "$decoder" ] || { echo "$decoder is missing: build the target lathmark-bench-decode" >&2; exit 2; }
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-jobs-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/photos"
for copy in $(seq -w 1 24); do
  for sample in "$root"/samples/*.jpg; do
    cp "$sample" "$work/photos/c${copy}_$(basename "$sample")"
  done
done
photos=$(find "$work/photos" -name '*.jpg' | wc -l)

# Elapsed, user and system seconds of one run of the counter over the folder with --jobs $1.
times_for() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$counter" --jobs "$1" "$work/photos" > "$work/out" 2> "$work/err"; } 2> "$work/time" ||
    { echo "lathmark-count --jobs $1 failed:" >&2; cat "$work/err" >&2; exit 2; }
  if [ "$(grep -c ' boards (' "$work/out")" != "$photos" ]; then
    echo "lathmark-count --jobs $1 did not count all $photos photographs" >&2
    exit 2
  fi
  cat "$work/time"
}

# The same for the bare decode of every photograph.
decode_times() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$decoder" "$work"/photos/*.jpg 2> "$work/err"; } 2> "$work/time" ||
    { echo "lathmark-bench-decode failed:" >&2; cat "$work/err" >&2; exit 2; }
  cat "$work/time"
}

median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
    if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "cores: $(nproc), load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
times_for 1 > /dev/null  # once untimed, so that neither setting pays for a cold cache
one=() two=() cpu_one=() cpu_two=() decode=() cpu_decode=()
for run in $(seq 1 "$runs"); do
  read -r elapsed user system < <(decode_times)
  decode+=("$elapsed")
  cpu_decode+=("$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')")
  read -r elapsed user system < <(times_for 1)
  one+=("$elapsed")
  cpu_one+=("$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')")
  read -r elapsed user system < <(times_for 2)
  two+=("$elapsed")
  cpu_two+=("$(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')")
  echo "run $run: decode ${decode[-1]} s (processor ${cpu_decode[-1]} s)," \
       "--jobs 1 ${one[-1]} s (processor ${cpu_one[-1]} s)," \
       "--jobs 2 ${two[-1]} s (processor ${cpu_two[-1]} s)"
done
load=$(cut -d' ' -f1 /proc/loadavg)
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

m1=$(median "${one[@]}")
m2=$(median "${two[@]}")
c1=$(median "${cpu_one[@]}")
c2=$(median "${cpu_two[@]}")
md=$(median "${decode[@]}")
cd_=$(median "${cpu_decode[@]}")
awk -v m1="$m1" -v m2="$m2" -v c1="$c1" -v c2="$c2" -v n="$photos" -v target="$target" \
    -v md="$md" -v cd="$cd_" -v decode_target="$decode_target" \
    -v load="$load" -v cores="$(nproc)" 'BEGIN {
  ratio = m1 / m2
  printf "decode alone: median %.3f s, processor %.3f s\n", md, cd
  printf "--jobs 1: median %.3f s, %.1f photographs/s, processor %.3f s\n", m1, n / m1, c1
  printf "--jobs 2: median %.3f s, %.1f photographs/s, processor %.3f s\n", m2, n / m2, c2
  # With both cores free, --jobs 2 could at best be 2 times as fast, less what the second
  # job adds in processor time (shared caches, memory bandwidth, locks that spin).
  printf "on free cores at best: %.2f x (2 x processor time of --jobs 1 / of --jobs 2)\n", 2 * c1 / c2
  if (load + 0 > cores * 0.5)
    printf "note: the machine was busy (load %.1f on %d cores): the measured ratio understates\n", load, cores
  printf "jobs1_to_decode %.2f (processor %.2f) target <= %.1f %s\n", m1 / md, c1 / cd,
    decode_target, (m1 / md <= decode_target) ? "PASS" : "FAIL"
  printf "jobs_ratio %.2f target >= %.1f %s\n", ratio, target, (ratio >= target) ? "PASS" : "FAIL"
}'
