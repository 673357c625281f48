#!/usr/bin/env bash
# Builds the fuzz targets in build-fuzz/ (beside fuzz/), checks every regression input, then
# fuzzes the targets one after another for SECONDS (default 60) in all, an equal share each,
# over a copy of each one's committed corpus, so that a run never changes the repository. Exits non-zero if a regression input or
# a fuzz run fails, printing the input that failed: its path and its bytes in base64.
#
# Inputs under regressions/known/ fail for a reason that is known and not fixed yet: they are
# run and reported but do not fail the run, and a fuzz run that finds the same failure again
# (the same sanitizer summary line) does not either. Once fixed, they move to regressions/.
#
#     fuzz/run.sh [SECONDS]
#
# Needs clang++-14 and libclang-rt-14-dev (libFuzzer and the sanitizer runtimes), cmake,
# libfreeimage-dev and libjpeg62-turbo-dev.
set -uo pipefail

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 2)); then
    echo "usage: fuzz/run.sh [SECONDS]  (SECONDS a whole number, at least 2; got '$seconds')" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$root/build-fuzz
compiler=${CXX_FUZZ:-clang++-14}
# Each target with its dictionary; regression inputs and corpus are in folders named after it
# without "fuzz_".
targets=(fuzz_count:jpeg.dict fuzz_journal:journal.dict fuzz_landscape:jpeg.dict
         fuzz_levelling:levelling.dict fuzz_region_decode:jpeg.dict
         fuzz_segments:jpeg.dict fuzz_settings:settings.dict fuzz_truth:truth.dict)
per_target=$((seconds / ${#targets[@]}))
((per_target >= 1)) || per_target=1

# What libFuzzer may spend on one input: the engine refuses photographs over 100 megapixels
# from the header, and the largest allowed one still decodes in a few seconds and well under
# 2 GB. One allocation above 1 GB means the budget has a hole.
limits=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024)

if ! command -v "$compiler" >/dev/null; then
    echo "fuzz/run.sh: $compiler is missing (Debian: apt-get install clang-14 libclang-rt-14-dev)" >&2
    exit 2
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
[[ -f $build/CMakeCache.txt ]] && generator=()  # keep whatever generator the folder has
log=$(mktemp)
if ! cmake -S "$here" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER="$compiler" >"$log" 2>&1 ||
    ! cmake --build "$build" -j "$(nproc)" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "fuzz/run.sh: building the fuzz targets in $build failed" >&2
    rm -f "$log"
    exit 2
fi
rm -f "$log"

work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-fuzz.XXXXXX")
failed=0

# Prints what is known of a failing input, for someone who only has the CI log.
show_input() {
    local file=$1
    echo "failing input: $file ($(stat -c %s "$file") bytes), base64:"
    base64 -w 76 "$file"
}

# The sanitizer's or the target's one-line verdict on a failed run.
summary_of() {
    grep -m 1 -E '^SUMMARY: |^broken ' "$1"
}

# Runs each input of a folder several times (some failures depend on what the heap looked like
# before) and prints "pass|fail INPUT LOG" for each.
run_inputs() {
    local target=$1 dir=$2
    local inputs=() input log
    [[ -d $dir ]] || return 0
    mapfile -t inputs < <(find "$dir" -type f ! -name '*.md' | sort)
    for input in "${inputs[@]}"; do
        log=$work/$target-$(basename "$input").log
        if "$build/$target" "${limits[@]}" -runs=10 "$input" >"$log" 2>&1; then
            echo "pass $input $log"
        else
            echo "fail $input $log"
        fi
    done
}

known_summaries=()

check_regressions() {
    local target=$1 kind=${1#fuzz_}
    local verdict input log summary checked=0
    while read -r verdict input log; do
        ((++checked))
        [[ $verdict == pass ]] && continue
        echo "== $target: regression input fails: ${input#"$root"/}"
        grep -E "ERROR|SUMMARY|^broken|#[0-9]+ 0x" "$log" | head -n 20
        show_input "$input"
        failed=1
    done < <(run_inputs "$target" "$here/regressions/$kind")
    while read -r verdict input log; do
        ((++checked))
        if [[ $verdict == pass ]]; then
            echo "== $target: known failure did not fail this time: ${input#"$root"/}" \
                "(some fail only now and then; once a fix is in, move it to fuzz/regressions/$kind/)"
            continue
        fi
        summary=$(summary_of "$log")
        echo "== $target: known failure, not fixed yet: ${input#"$root"/}"
        echo "   ${summary:-(no summary line)}"
        [[ -n $summary ]] && known_summaries+=("$summary")
    done < <(run_inputs "$target" "$here/regressions/known/$kind")
    echo "== $target: $checked regression inputs checked"
}

is_known() {
    local summary=$1 known
    [[ -n $summary ]] || return 1
    for known in "${known_summaries[@]}"; do
        [[ $known == "$summary" ]] && return 0
    done
    return 1
}

fuzz() {
    local target=$1 dict=$2
    local corpus=$work/$target-corpus artifacts=$work/$target-artifacts/ out=$work/$target.log
    mkdir -p "$corpus" "$artifacts"
    cp "$here/corpus/${target#fuzz_}/"* "$corpus/"
    "$build/$target" "${limits[@]}" -max_total_time="$per_target" -print_final_stats=1 \
        -dict="$here/$dict" -artifact_prefix="$artifacts" "$corpus" >"$out" 2>&1
    local status=$?
    # The last status line says how far the run got: executions, coverage, corpus.
    local last
    last=$(grep -E '^#[0-9]+' "$out" | tail -n 1)
    local speed
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out")
    echo "== $target: ${per_target}s, exit $status, ${speed:-?} exec/s; ${last:-no status line}"
    ((status == 0)) && return 0
    if is_known "$(summary_of "$out")"; then
        echo "== $target: found a known failure again: $(summary_of "$out")"
        return 0
    fi
    # Time and memory limits count the whole machine's load and what earlier inputs left
    # behind: a timeout or out-of-memory input is a failure only if it fails again alone.
    local inputs=("$artifacts"*)
    if ((${#inputs[@]} == 1)) && [[ $(basename "${inputs[0]}") == @(timeout|oom)-* ]] &&
        "$build/$target" "${limits[@]}" "${inputs[0]}" >"$out.alone" 2>&1; then
        echo "== $target: $(basename "${inputs[0]}") passes when run alone: a busy machine, not a failure"
        return 0
    fi
    failed=1
    tail -n 60 "$out"
    local input
    for input in "${inputs[@]}"; do
        [[ -f $input ]] && show_input "$input"
    done
    echo "(log and inputs kept in $work)"
}

for entry in "${targets[@]}"; do
    check_regressions "${entry%%:*}"
done
for entry in "${targets[@]}"; do
    fuzz "${entry%%:*}" "${entry#*:}"
done

if ((failed)); then
    echo "fuzz/run.sh: FAILED" >&2
    exit 1
fi
rm -rf "$work"
echo "fuzz/run.sh: no failure"
