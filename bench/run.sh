#!/usr/bin/env bash
# Builds the benchmarks in Release and measures every speed and memory target, then prints
# where a count's time goes and a summary table (measure, value, target, PASS or FAIL).
#
#   bash bench/run.sh [--no-window] [--summary]
#
# The build goes to build-bench/ (or $LATHMARK_BENCH_BUILD_DIR), the raw results to
# <build>/bench-results/. --no-window skips the window's benchmark (and builds without Qt).
# --summary builds and measures nothing: it prints the tables from the last results.
# Exit status: 0 every target met, 1 at least one missed, 2 something could not be measured.
# The verdicts are on elapsed time. A full run takes about 2 minutes once built. On a machine
# that other work keeps busy, elapsed times swing with the other work: the ratios in processor
# time, printed beside them, then hold steadier and say more.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LATHMARK_BENCH_BUILD_DIR:-$root/build-bench}
window=ON
measure=yes
for argument in "$@"; do
  case "$argument" in
    --no-window) window=OFF ;;
    --summary) measure=no ;;
    *) echo "usage: $0 [--no-window] [--summary]" >&2; exit 2 ;;
  esac
done
results=$build/bench-results
[ "$measure" = no ] && [ ! -f "$results/window.json" ] && window=OFF

# The value of `field` in the first result of a Google Benchmark JSON file whose name matches
# the extended regular expression `pattern`.
field() {
  local file=$1 pattern=$2 name=$3
  awk -v pattern="$pattern" -v want="\"$name\":" '
    $1 == "\"name\":" { current = $2; gsub(/[",]/, "", current) }
    $1 == want && current ~ pattern { value = $2; sub(/,$/, "", value); print value + 0; exit }
  ' "$file"
}

measure_all() {
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DLATHMARK_BUILD_BENCH=ON \
    -DLATHMARK_BUILD_TESTS=OFF -DLATHMARK_BUILD_APP=$window > /dev/null
  targets=(bench_count bench_region lathmark-count lathmark-bench-photograph lathmark-bench-decode
    lathmark-make-samples)
  [ "$window" = ON ] && targets+=(bench_window)
  cmake --build "$build" -j"$(nproc)" --target "${targets[@]}" > "$build/bench-build.log" 2>&1 ||
    { tail -40 "$build/bench-build.log" >&2; exit 2; }
  mkdir -p "$results"

  echo "== machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

  # The window's benchmark first: the step cases of bench_count make and remove thousands of
  # files, after which a new file can cost some file systems far more for minutes.
  if [ "$window" = ON ]; then
    echo "== window benchmark (bench_window)"
    (cd "$results" && "$build/bin/bench_window" --benchmark_filter=BM_PickToDecode \
      --benchmark_out="$results/window.json" \
      --benchmark_out_format=json) | tee "$results/window.txt"
  fi

  echo "== counting benchmarks (bench_count)"
  (cd "$results" && "$build/bin/bench_count" --benchmark_out="$results/count.json" \
    --benchmark_out_format=json) | tee "$results/count.txt"

  echo "== --jobs 2 against --jobs 1 (bench_jobs.sh)"
  bash "$root/bench/bench_jobs.sh" "$build" | tee "$results/jobs.txt"

  echo "== peak memory (peak_memory.sh)"
  bash "$root/bench/peak_memory.sh" "$build" | tee "$results/memory.txt"

  echo "== peak memory of --jobs 6 against --jobs 1 (peak_memory_jobs.sh)"
  bash "$root/bench/peak_memory_jobs.sh" "$build" | tee "$results/memory_jobs.txt"

  echo "== calibration over 30 photographs (bench_calibrate.sh)"
  bash "$root/bench/bench_calibrate.sh" "$build" | tee "$results/calibrate.txt"

  echo "== counts within a region and with a THICKNESS (bench_region)"
  (cd "$results" && "$build/bin/bench_region" --benchmark_out="$results/region.json" \
    --benchmark_out_format=json) | tee "$results/region.txt"

  echo "== the search for the region (bench_find_region.sh)"
  bash "$root/bench/bench_find_region.sh" "$build" | tee "$results/find_region.txt"

  echo "== photographs counted as they arrive (bench_watch.sh)"
  bash "$root/bench/bench_watch.sh" "$build" | tee "$results/watch.txt" || true
}
[ "$measure" = yes ] && measure_all

# Where a count's time goes: the median of each step in elapsed and in processor time, and the
# processor time per count (times how often a count runs the step).
stage_table() {
  local width=$1 json=$results/count.json
  printf '\n%-24s %11s %13s %6s %14s\n' "step at width $width" "elapsed ms" "processor ms" \
    "times" "processor/count"
  local total=0 label pattern times elapsed cpu
  while read -r label pattern times; do
    elapsed=$(field "$json" "^${pattern}.*_median\$" real_time)
    cpu=$(field "$json" "^${pattern}.*_median\$" cpu_time)
    [ -z "$elapsed" ] && continue
    printf '%-24s %11.3f %13.3f %6s %14.3f\n' "$label" "$elapsed" "$cpu" "$times" \
      "$(awk -v a="$cpu" -v b="$times" 'BEGIN { print a * b }')"
    case "$label" in
      FreeImage_Load|full_count+writeBmp|ThresholdTable|settingsLandscape) ;;
      *) total=$(awk -v a="$total" -v b="$cpu" -v c="$times" 'BEGIN { print a + b * c }') ;;
    esac
  done <<EOF
FreeImage_Load BM_Decode/width:$width/ 1
decodePhotograph BM_DecodePhotograph/width:$width/ 1
countRows(both) BM_RowCounts/width:$width/ 1
findBand BM_FindBand/width:$width/ 1
countLines(4_passes) BM_Passes/width:$width/ 1
joints+resultImage BM_ResultImage/width:$width/ 1
writeBmp(new_file) BM_WriteBmp/width:$width/overwrite:0/ 1
writeBmp(overwrite) BM_WriteBmp/width:$width/overwrite:1/ 0
full_count+writeBmp BM_FullCount/width:$width/ 1
ThresholdTable BM_ThresholdTable/width:$width/ 0
settingsLandscape BM_Landscape/width:$width/ 0
EOF
  printf '%-24s %11s %13s %6s %14.3f\n' "sum of the steps" "" "" "" "$total"
}
echo "== where a count's time goes (medians; the steps are timed apart, so their sum need"
echo "   not equal the whole count)"
stage_table 768
stage_table 4000

# The summary: one row per target.
status=0
row() {
  local measure=$1 value=$2 target=$3 verdict=$4
  printf '%-44s %14s %14s  %s\n' "$measure" "$value" "$target" "$verdict"
  [ "$verdict" = FAIL ] && status=1
  [ "$verdict" = "n/a" ] && [ "$status" = 0 ] && status=2
  return 0
}
verdict_at_most() { awk -v v="$1" -v t="$2" 'BEGIN { print (v != "" && v <= t) ? "PASS" : "FAIL" }'; }

echo
echo "== summary (load average now $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-44s %14s %14s  %s\n' measure value target verdict
# One row against decoding: `case` is the benchmark, `what` the measure, `limit` the target.
ratio_row() {
  local case=$1 what=$2 limit=$3 json=$results/count.json ratio
  ratio=$(field "$json" "$case" ratio)
  if [ -n "$ratio" ]; then
    row "$what" "$(printf '%.2f x' "$ratio")" "<= $limit x" "$(verdict_at_most "$ratio" "$limit")"
    printf '    (%.1f ms, decode %.1f ms; in processor time %.2f x, %s)\n' \
      "$(field "$json" "$case" "$4")" "$(field "$json" "$case" decode_ms)" \
      "$(field "$json" "$case" cpu_ratio)" \
      "$(verdict_at_most "$(field "$json" "$case" cpu_ratio)" "$limit")"
  else
    row "$what" "-" "<= $limit x" "n/a"
  fi
}
ratio_row ^BM_CountToDecode/width:768/new_files:0/ "full count / FreeImage_Load, 768 x 576" 1.25 count_ms
ratio_row ^BM_CountToDecode/width:768/new_files:1/ "  the same, each image a new file" 1.25 count_ms
ratio_row ^BM_CountToDecode/width:4000/new_files:0/ "full count / FreeImage_Load, 4000 x 3000" 1.5 count_ms
ratio_row ^BM_CountToDecode/width:4000/new_files:1/ "  the same, each image a new file" 1.5 count_ms
ratio_row ^BM_StabilityToDecode/width:768/ "count --stability / FreeImage_Load, 768" 2 count_ms
ratio_row ^BM_LandscapeToDecode/width:768/stretches:1/ "landscape / FreeImage_Load, 768 x 576" 100 landscape_ms
ratio_row ^BM_LandscapeToDecode/width:768/stretches:4/ "  the same at STRETCH 1 to 4" 250 landscape_ms
for case in 768/stretch:2 768/stretch:3 768/stretch:4 4000/stretch:2 4000/stretch:4; do
  json=$results/count.json
  ratio=$(field "$json" "^BM_StretchBeyondDecode/width:$case/" ratio)
  k=${case##*:}
  what="count at STRETCH $k / at 1, width ${case%%/*}"
  if [ -n "$ratio" ]; then
    row "$what" "$(printf '%.2f x' "$ratio")" "<= $k x" "$(verdict_at_most "$ratio" "$k")"
  else
    row "$what" "-" "<= $k x" "n/a"
  fi
done
for case in "BM_CountToDecode/2448/:count / FreeImage_Load, 2448 x 2048:1.15" \
            "BM_RegionToWhole/768/:count within a region / whole, 768:1" \
            "BM_RegionToWhole/2448/:count within a region / whole, 2448:1" \
            "BM_ThicknessToPlain/768/:count with THICKNESS / without, 768:1.02" \
            "BM_ThicknessToPlain/2448/:count with THICKNESS / without, 2448:1.02"; do
  IFS=: read -r pattern what limit <<< "$case"
  ratio=$(field "$results/region.json" "^$pattern" ratio 2>/dev/null || true)
  cpu=$(field "$results/region.json" "^$pattern" cpu_ratio 2>/dev/null || true)
  if [ -n "$ratio" ]; then
    row "$what" "$(printf '%.2f x' "$ratio")" "<= $limit x" "$(verdict_at_most "$ratio" "$limit")"
    printf '    (in processor time %.2f x, %s)\n' "$cpu" "$(verdict_at_most "$cpu" "$limit")"
  else
    row "$what" "-" "<= $limit x" "n/a"
  fi
done
for entry in "large:--find-region, 12 of 2448 x 2048" "small:--find-region, 8 of 1024 x 768"; do
  IFS=: read -r set what <<< "$entry"
  seconds=$(awk -v k="find_region_${set}_seconds" '$1 == k { print $2 }' "$results/find_region.txt" 2>/dev/null)
  target=$(awk -v k="find_region_${set}_target_seconds" '$1 == k { print $2 }' "$results/find_region.txt" 2>/dev/null)
  mb=$(awk -v k="find_region_${set}_memory_mb" '$1 == k { print $2 }' "$results/find_region.txt" 2>/dev/null)
  if [ -n "$seconds" ]; then
    row "$what" "$seconds s" "<= $target s" "$(verdict_at_most "$seconds" "$target")"
    row "  memory per photograph" "$mb MB" "<= 64 MB" "$(verdict_at_most "$mb" 64)"
  else
    row "$what" "-" "<= ${target:-?} s" "n/a"
  fi
done
watched() { awk -v k="$1" '$1 == k { print $2 }' "$results/watch.txt" 2>/dev/null; }
if [ -n "$(watched latency_ms_max)" ]; then
  row "--watch, 1000 at 50 a second: latency" "$(watched latency_ms_max) ms" "<= 100 ms" \
    "$(verdict_at_most "$(watched latency_ms_max)" 100)"
  wrong=$(( $(watched not_once) + $(watched out_of_order) + $(watched refused) + $(watched wrong_count) ))
  row "  not once, out of order, half or wrong" "$wrong" "0" "$([ "$wrong" = 0 ] && echo PASS || echo FAIL)"
else
  row "--watch, 1000 at 50 a second: latency" "-" "<= 100 ms" "n/a"
fi
seconds=$(awk '/^calibrate_seconds/ { print $2 }' "$results/calibrate.txt" 2>/dev/null)
row "--calibrate, 30 photos of 768, --jobs 2" "${seconds:--} s" "reported" "$([ -n "$seconds" ] && echo info || echo n/a)"
for jobs in 1 2; do
  mb=$(awk -v k="calibrate_memory_jobs$jobs" '$1 == k { print $2 }' "$results/calibrate.txt" 2>/dev/null)
  row "  memory per photograph searched, --jobs $jobs" "${mb:--} MB" "<= 32 MB" \
    "$([ -n "$mb" ] && verdict_at_most "$mb" 32 || echo n/a)"
done
jobs=$(awk '/^jobs_ratio/ { print $2 }' "$results/jobs.txt")
if [ -n "$jobs" ]; then
  row "throughput --jobs 2 / --jobs 1, 100 photos" "$jobs x" ">= 1.7 x" \
    "$(awk -v v="$jobs" 'BEGIN { print (v >= 1.7) ? "PASS" : "FAIL" }')"
else
  row "throughput --jobs 2 / --jobs 1, 100 photos" "-" ">= 1.7 x" "n/a"
fi
for kind in raw net; do
  mb=$(awk -v k="peak_$kind" '$1 == k { print $2 }' "$results/memory.txt")
  what=$([ "$kind" = raw ] && echo "peak memory, 4000 x 3000" || echo "peak memory less baseline, 4000 x 3000")
  if [ -n "$mb" ]; then
    row "$what" "$mb MB" "<= 90 MB" "$(verdict_at_most "$mb" 90)"
  else
    row "$what" "-" "<= 90 MB" "n/a"
  fi
done
ratio=$(awk '$1 == "jobs_peak_ratio" { print $2 }' "$results/memory_jobs.txt" 2>/dev/null)
if [ -n "$ratio" ]; then
  row "peak memory --jobs 6 / --jobs 1, 6 x 80 MP" "$ratio x" "<= 2 x" \
    "$(verdict_at_most "$ratio" 2)"
else
  row "peak memory --jobs 6 / --jobs 1, 6 x 80 MP" "-" "<= 2 x" "n/a"
fi
if [ "$window" = ON ]; then
  for size in 768/576 2448/2048; do
    what="window pick / FreeImage_Load, ${size/\// x }"
    target=2
    [ "$size" = 2448/2048 ] && target=1.5
    ratio=$(field "$results/window.json" "^BM_PickToDecode/$size" ratio)
    if [ -z "$ratio" ]; then
      row "$what" "-" "<= $target x" "n/a"
      continue
    fi
    row "$what" "$(printf '%.2f x' "$ratio")" "<= $target x" "$(verdict_at_most "$ratio" "$target")"
    w() { field "$results/window.json" "^BM_PickToDecode/$size" "$1"; }
    printf '    (pick %.1f ms, decode %.1f ms; in processor time %.2f x, %s)\n' \
      "$(w pick_ms)" "$(w decode_ms)" "$(w cpu_ratio)" "$(verdict_at_most "$(w cpu_ratio)" "$target")"
    printf '    (a pick'"'"'s steps: count with stability %.1f, test.bmp written %.1f and read %.1f,\n' \
      "$(w count_ms)" "$(w bmp_write_ms)" "$(w bmp_read_ms)"
    printf '     pictures %.1f, journal record flushed %.1f, pixmaps %.1f ms; painting afterwards %.1f ms)\n' \
      "$(w to_qimage_ms)" "$(w journal_ms)" "$(w pixmap_ms)" "$(w paint_ms)"
  done
fi
exit "$status"
