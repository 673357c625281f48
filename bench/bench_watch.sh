#!/usr/bin/env bash
# Latency and load of lathmark-count --watch: photographs copied into a watched folder at a
# steady rate, every tenth written in two pieces with a pause between (as a slow camera or a
# network copy writes), each counted once, in the order it arrived, and none while half-written.
#
#   bash bench/bench_watch.sh BUILD_DIR [PHOTOGRAPHS] [PER_SECOND]
#
# Builds nothing: BUILD_DIR/bin/lathmark-count must exist. Defaults: 1000 photographs at 50 a
# second, each samples/stack_01.jpg (768 x 576) made a photograph of its own: the last entry of
# each of its two quantisation tables changed, so that no two hold the same image (the counter
# counts an image once) while each still counts 12 boards. A photograph's latency is the time
# from the moment its file was closed whole to the moment its line was read from the counter's
# output, less the count's own time (the line's "ms"); the target is 100 ms. Prints "name value"
# lines, then PASS or FAIL. Exits 0 when every photograph was counted once, in order, whole,
# within the target; 1 when not; 2 when it cannot measure.
set -euo pipefail

build=${1:-}
total=${2:-1000}
rate=${3:-50}
if [ -z "$build" ] || [ ! -x "$build/bin/lathmark-count" ]; then
  echo "usage: $0 BUILD_DIR [PHOTOGRAPHS] [PER_SECOND]   (needs lathmark-count)" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
photo=$root/samples/stack_01.jpg
size=$(stat -c %s "$photo")
work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-watch-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/made"

# The photographs, made before the clock starts: byte 68 of a DQT segment is the last entry of
# its 8-bit table.
tables=($(LC_ALL=C grep -obUaP '\xff\xdb' "$photo" | cut -d: -f1))
for ((i = 0; i < total; i++)); do
  made="$work/made/$(printf 'p%05d.jpg' "$i")"
  cp "$photo" "$made"
  printf "\\$(printf %o $((1 + i % 250)))" |
    dd of="$made" bs=1 seek=$((tables[0] + 68)) conv=notrunc status=none
  printf "\\$(printf %o $((1 + i / 250 % 250)))" |
    dd of="$made" bs=1 seek=$((tables[1] + 68)) conv=notrunc status=none
done

# Each output line with the moment it was read, from bash's own clock (no process per line).
"$build/bin/lathmark-count" --bdline 40 --threshold 128 --json --quiet --watch "$work/in" \
  > >(while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done > "$work/out") \
  2> "$work/err" &
counter=$!
sleep 0.5

period=$(awk -v r="$rate" 'BEGIN { printf "%.6f", 1 / r }')
start=$EPOCHREALTIME
for ((i = 0; i < total; i++)); do
  name=$(printf 'p%05d.jpg' "$i")
  if ((i % 10 == 0)); then
    head -c $((size / 2)) "$work/made/$name" > "$work/in/$name"
    sleep 0.01
    tail -c +$((size / 2 + 1)) "$work/made/$name" >> "$work/in/$name"
  else
    cp "$work/made/$name" "$work/in/$name"
  fi
  printf '%s %s\n' "$name" "$EPOCHREALTIME" >> "$work/arrivals"
  # The next photograph at its moment of a steady rate, whatever this one took.
  wait_for=$(awk -v s="$start" -v p="$period" -v n=$((i + 1)) -v now="$EPOCHREALTIME" \
    'BEGIN { d = s + n * p - now; if (d < 0) d = 0; printf "%.6f", d }')
  sleep "$wait_for"
done
elapsed=$(awk -v s="$start" -v now="$EPOCHREALTIME" 'BEGIN { printf "%.1f", now - s }')
sleep 1
kill -TERM "$counter"
wait "$counter" || true
sleep 0.2

awk -v total="$total" -v elapsed="$elapsed" -v target=100 -v latencyFile="$work/latencies" '
  FNR == NR { arrived[$1] = $2; order[++n] = $1; next }
  {
    line = $0; sub(/^[^ ]+ /, "", line)
    if (line !~ /"file":/) next
    file = line; sub(/.*"file":"[^"]*\//, "", file); sub(/".*/, "", file)
    if (line ~ /"error":/) { errors++; next }
    ms = line; sub(/.*"ms":/, "", ms); sub(/[,}].*/, "", ms)
    boards = line; sub(/.*"boards":/, "", boards); sub(/[,}].*/, "", boards)
    if (boards != 12) wrong++
    seen[file]++
    counted[++m] = file
    latency = ($1 - arrived[file]) * 1000 - ms
    print latency > latencyFile
    if (latency > worst) worst = latency
  }
  END {
    for (i = 1; i <= n; i++) if (seen[order[i]] != 1) missedOrTwice++
    for (i = 1; i <= m; i++) if (counted[i] != order[i]) outOfOrder++
    close(latencyFile)
    rank = int(m * 0.99); if (rank < 1) rank = 1
    command = "sort -n " latencyFile " | sed -n " rank "p"
    command | getline p99
    printf "photographs %d\ncopied_in_seconds %s\ncounted_lines %d\nnot_once %d\nout_of_order %d\n", n, elapsed, m, missedOrTwice + 0, outOfOrder + 0
    printf "refused %d\nwrong_count %d\nlatency_ms_p99 %.1f\nlatency_ms_max %.1f\n", errors + 0, wrong + 0, p99, worst
    ok = m == n && !missedOrTwice && !outOfOrder && !errors && !wrong && worst <= target
    print ok ? "PASS" : "FAIL"
    exit ok ? 0 : 1
  }
' "$work/arrivals" "$work/out"
