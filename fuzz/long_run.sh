#!/usr/bin/env bash
# One long fuzzing run of one target, for the figures in fuzz/README.md: builds build-fuzz/,
# copies the target's committed corpus into OUT/corpus (so that the repository never changes),
# fuzzes for SECONDS with the limits of run.sh, and writes OUT/fuzz.log. With the pace lines
# (every minute) and libFuzzer's final statistics, the log gives executions, executions a
# second over time, coverage and findings; OUT/found/ holds whatever failed.
#
#     taskset -c 1 nice -n 10 fuzz/long_run.sh TARGET SECONDS OUT
#
# FUZZ_BUILD names another build folder than build-fuzz/. TARGET is one of fuzz_count, fuzz_journal, fuzz_landscape, fuzz_levelling, fuzz_segments, fuzz_settings, fuzz_truth.
set -euo pipefail

if (($# != 3)); then
    echo "usage: fuzz/long_run.sh TARGET SECONDS OUT" >&2
    exit 2
fi
target=$1 seconds=$2 out=$3
here=$(cd "$(dirname "$0")" && pwd)
build=${FUZZ_BUILD:-$(dirname "$here")/build-fuzz}  # another folder keeps a run apart from builds
case $target in
    fuzz_count | fuzz_landscape | fuzz_segments) dict=jpeg.dict ;;
    fuzz_settings) dict=settings.dict ;;
    fuzz_truth) dict=truth.dict ;;
    fuzz_journal) dict=journal.dict ;;
    fuzz_levelling) dict=levelling.dict ;;
    *) echo "fuzz/long_run.sh: no target $target" >&2; exit 2 ;;
esac
cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++-14}" >/dev/null
cmake --build "$build" -j 2 >/dev/null
mkdir -p "$out/corpus" "$out/found"
cp "$here/corpus/${target#fuzz_}/"* "$out/corpus/"
echo "$target: $(date -u +%FT%TZ), ${seconds}s, $(ls "$out/corpus" | wc -l) corpus files" >"$out/fuzz.log"
status=0
LATHMARK_FUZZ_PACE=60 "$build/$target" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -max_total_time="$seconds" -print_final_stats=1 -dict="$here/$dict" \
    -artifact_prefix="$out/found/" "$out/corpus" >>"$out/fuzz.log" 2>&1 || status=$?
echo "exit $status, $(date -u +%FT%TZ)" >>"$out/fuzz.log"
exit "$status"
