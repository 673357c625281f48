#!/usr/bin/env bash
# Checks that a change to the counting engine leaves every result as it was: every count, band,
# joint, result image, stability range and calibration result. Two builds of lathmark-count, the
# old and the new, count the same photographs at the same settings, one after the other, and
# their outputs are compared byte for byte.
#
#   tools/compare_counts.sh OLD_BIN_DIR NEW_BIN_DIR [EXTRA_PHOTO_OR_FOLDER...]
#
# OLD_BIN_DIR and NEW_BIN_DIR are the bin folders of the two builds (each holding
# lathmark-count). The photographs are every *.jpg under samples/, in every subfolder, then the
# extra photographs and folders given, then the three photographs of the benchmarks
# (768 x 576, 2448 x 2048 and 4000 x 3000) when lathmark-bench-photograph is at hand: the one
# that $BENCH_PHOTOGRAPH names, or else build-bench/bin/lathmark-bench-photograph.
#
# Each of a dozen THRESHOLD and BDLINE pairs, at every STRETCH from 1 to 4, is counted twice by
# each build: once as JSON with stability ranges and result images, once as CSV; so are a few
# REGIONs at two of the pairs. The JSON and
# CSV must match apart from the time a count took; standard error, the exit status and every
# result image must match exactly. Then each samples/**/truth.tsv is calibrated on, as JSON and
# as text with the chosen settings and the landscape written out, and all of that must match
# too.
#
# Prints a line per group of comparisons, "same: ..." or "differs: ...", the latter followed by
# the start of each difference. Exit status: 0 all the same, 1 something differs, 2 wrong
# arguments or a program missing. Takes a few minutes with two cores.
set -euo pipefail

usage() {
  echo "usage: $0 OLD_BIN_DIR NEW_BIN_DIR [EXTRA_PHOTO_OR_FOLDER...]" >&2
  exit 2
}

fail() {
  echo "compare_counts: $*" >&2
  exit 2
}

[ $# -ge 2 ] || usage
declare -A program
for side in old new; do
  dir=$1
  shift
  if [ ! -f "$dir/lathmark-count" ] || [ ! -x "$dir/lathmark-count" ]; then
    fail "$dir/lathmark-count is missing or cannot be run"
  fi
  program[$side]=$(cd "$dir" && pwd)/lathmark-count
done

# The extra photographs are named as given from here; the builds run from the source tree.
extras=()
for argument in "$@"; do
  [ -e "$argument" ] || fail "$argument: no such photograph or folder"
  case "$argument" in
    /*) extras+=("$argument") ;;
    *) extras+=("$PWD/$argument") ;;
  esac
done

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
[ -d samples ] || fail "$root/samples is missing"

work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

bench=${BENCH_PHOTOGRAPH:-}
if [ -n "$bench" ]; then
  if [ ! -f "$bench" ] || [ ! -x "$bench" ]; then
    fail "BENCH_PHOTOGRAPH=$bench cannot be run"
  fi
elif [ -x build-bench/bin/lathmark-bench-photograph ]; then
  bench=$root/build-bench/bin/lathmark-bench-photograph
fi

# The photographs, named as they are given to lathmark-count.
photos=()
mapfile -t photos < <(find samples -type f -iname '*.jpg' | LC_ALL=C sort)
[ ${#photos[@]} -gt 0 ] || fail "no photographs under $root/samples"

# lathmark-count refuses to count two photographs whose result images would have one name, so
# such a pair is refused here, with the names, before anything runs. An extra photograph that
# is one of those already listed is left out instead.
declare -A writer
result_name() {
  local name=${1##*/}
  local stem=${name%.*}
  [ -n "$stem" ] || stem=$name
  echo "$stem.bmp"
}
claim() {
  local file=$1 image
  image=$(result_name "$file")
  if [ -n "${writer[$image]:-}" ]; then
    [ "$(realpath "${writer[$image]}")" = "$(realpath "$file")" ] && [ "${2:-}" = single ] &&
      return 1
    fail "${writer[$image]} and $file would both write the result image $image; rename one or leave it out"
  fi
  writer[$image]=$file
}
for photo in "${photos[@]}"; do claim "$photo"; done
for extra in "${extras[@]}"; do
  if [ -d "$extra" ]; then
    while IFS= read -r photo; do claim "$photo"; done < <(find "$extra" -maxdepth 1 -type f -iname '*.jpg')
    photos+=("$extra")
  elif claim "$extra" single; then
    photos+=("$extra")
  else
    echo "note: $extra is among the photographs already; counted once"
  fi
done

if [ -n "$bench" ]; then
  mkdir "$work/bench"
  for size in 768x576 2448x2048 4000x3000; do
    file=$work/bench/bench_$size.jpg
    "$bench" "$file" "${size%x*}" "${size#*x}" > /dev/null ||
      fail "$bench could not write $file"
    claim "$file"
    photos+=("$file")
  done
else
  echo "note: no lathmark-bench-photograph (set BENCH_PHOTOGRAPH, or build build-bench/); the benchmark photographs are left out"
fi

# Runs one build (old or new) from the source tree. What it writes goes into $work/run, which is
# then moved to $work/old or $work/new along with its standard output, standard error and exit
# status; both builds thus see the same paths, and messages that name them match.
run() {
  local side=$1
  shift
  rm -rf "$work/run" "${work:?}/$side"
  mkdir "$work/run"
  local status=0
  "${program[$side]}" "$@" > "$work/stdout" 2> "$work/stderr" || status=$?
  mv "$work/run" "$work/$side"
  mv "$work/stdout" "$work/stderr" "$work/$side/"
  echo "$status" > "$work/$side/status"
}

# JSON lines less their "ms" field, the time a count took.
strip_json_time() {
  sed -E 's/([{,])"ms":(-?[0-9][-+.0-9eE]*|null),/\1/g; s/,"ms":(-?[0-9][-+.0-9eE]*|null)}/}/g' "$1"
}

# CSV with the column that the header names ms left empty, and without the columns angle and
# by_rhythm, which a newer build appends and leaves empty for a level count; one that is not empty
# is kept (as "angle=..."), so that it differs. A quoted field may hold commas and line breaks.
strip_csv_time() {
  awk '
    function quotes(text,  copy) { copy = text; return gsub(/"/, "", copy) }
    function blank(record,  out, i, c, field, quoted, value) {
      out = ""; field = 1; quoted = 0; value = ""
      for (i = 1; i <= length(record) + 1; i++) {
        c = i <= length(record) ? substr(record, i, 1) : ","
        if (c == "\"") quoted = !quoted
        if ((c == "," && !quoted) || i > length(record)) {
          sub(/\r$/, "", value)
          if (field == column && !header) value = ""
          if (header && field in appended) value = ""
          if (!(field in appended)) out = out (field > 1 ? "," : "") value
          else if (value != "") out = out "," names[field] "=" value
          field++; value = ""; continue
        }
        value = value c
      }
      return out (record ~ /\r$/ ? "\r" : "")
    }
    {
      record = held ? record "\n" $0 : $0
      if (quotes(record) % 2) { held = 1; next }
      held = 0
      if (!seen_header) {
        seen_header = 1
        count = split(record, names, ",")
        for (i = 1; i <= count; i++) {
          name = names[i]; sub(/\r$/, "", name); names[i] = name
          if (name == "ms") column = i
          if (name == "angle" || name == "by_rhythm") appended[i] = 1
        }
        header = 1; print blank(record); header = 0
        next
      }
      print blank(record)
    }
    END { if (held) print record }
  ' "$1"
}

differences=()  # what differs in the current group
detail=$work/detail  # the start of each difference in the current group

# Compares two text files; a difference is named and the start of a unified diff kept.
compare_text() {
  local what=$1 old=$2 new=$3
  cmp -s "$old" "$new" && return 0
  differences+=("$what")
  {
    echo "  -- $what"
    { diff -a -u --label "old: $what" --label "new: $what" "$old" "$new" || true; } | head -n 20
  } >> "$detail"
}

compare_status() {
  local old new
  old=$(cat "$work/old/status")
  new=$(cat "$work/new/status")
  [ "$old" = "$new" ] || differences+=("exit status $old against $new")
}

compare_outputs() {
  compare_text "standard error" "$work/old/stderr" "$work/new/stderr"
  compare_status
}

# Compares the result images of the two runs: the same names, and each byte for byte.
compare_images() {
  local folder=$1 name changed=0
  (cd "$work/old" && find "$folder" -type f 2>/dev/null | LC_ALL=C sort) > "$work/images.old"
  (cd "$work/new" && find "$folder" -type f 2>/dev/null | LC_ALL=C sort) > "$work/images.new"
  compare_text "names of the result images" "$work/images.old" "$work/images.new"
  : > "$work/images.cmp"
  while IFS= read -r name; do
    if ! cmp "$work/old/$name" "$work/new/$name" >> "$work/images.cmp" 2>&1; then
      changed=$((changed + 1))
    fi
  done < <(comm -12 "$work/images.old" "$work/images.new")
  if [ "$changed" -gt 0 ]; then
    differences+=("result images: $changed of $(wc -l < "$work/images.old")")
    {
      echo "  -- result images"
      { sed "s|$work/||g" "$work/images.cmp" || true; } | head -n 20
    } >> "$detail"
  fi
}

groups=0
differing=0
# Prints the group's line and, if anything differs, its differences; then starts a new group.
report() {
  local what=$1 counted=$2
  groups=$((groups + 1))
  if [ ${#differences[@]} -eq 0 ]; then
    echo "same: $what ($counted)"
  else
    differing=$((differing + 1))
    local joined
    joined=$(printf '%s, ' "${differences[@]}")
    echo "differs: $what (${joined%, })"
    cat "$detail"
  fi
  differences=()
  : > "$detail"
}
: > "$detail"

# THRESHOLD/BDLINE pairs: the bundled settings, those the dim set calibrates to, the ends of
# both ranges, a BDLINE below 0 and a spread between.
pairs=(128/40 82/87 0/0 245/1 100/10 150/200 60/500 200/5 128/-5 30/30 180/120 110/65)

# Counts the photographs with both builds at the settings given, as JSON with stability ranges
# and result images, then as CSV, compares everything, and reports the group as `label`.
compare_counts_at() {
  local label=$1
  shift
  local settings=("$@") side
  for side in old new; do
    run "$side" "${settings[@]}" --json --stability --marked "$work/run/marked" --jobs 2 \
      "${photos[@]}"
    strip_json_time "$work/$side/stdout" > "$work/$side/json"
  done
  compare_text "JSON output" "$work/old/json" "$work/new/json"
  compare_outputs
  compare_images marked
  local counted images failed note=""
  counted=$(grep -c '^{"file":' "$work/old/stdout" || true)
  images=$(wc -l < "$work/images.old")
  failed=$(sed -n 's/^{"book":.*"failed":\([0-9]*\).*/\1/p' "$work/old/stdout")
  [ "${failed:-0}" = 0 ] || note=", $failed could not be counted"
  [ "$(cat "$work/old/status")" = 2 ] && note=", refused: $(head -n 1 "$work/old/stderr")"

  for side in old new; do
    run "$side" "${settings[@]}" --csv --jobs 2 "${photos[@]}"
    strip_csv_time "$work/$side/stdout" > "$work/$side/csv"
  done
  compare_text "CSV output" "$work/old/csv" "$work/new/csv"
  compare_text "CSV standard error" "$work/old/stderr" "$work/new/stderr"
  local old_status new_status
  old_status=$(cat "$work/old/status")
  new_status=$(cat "$work/new/status")
  [ "$old_status" = "$new_status" ] ||
    differences+=("CSV exit status $old_status against $new_status")

  report "$label" "$counted photographs, $images result images$note"
}

for pair in "${pairs[@]}"; do
  for stretch in 1 2 3 4; do
    compare_counts_at "THRESHOLD=${pair%/*} BDLINE=${pair#*/} STRETCH=$stretch" \
      --bdline "${pair#*/}" --threshold "${pair%/*}" --stretch "$stretch"
  done
done

# Counts within a REGION read only the region's pixels (decoded alone where that can be exact):
# regions on block boundaries and across them, at the corners and edges, and ones that do not
# fit the smaller photographs.
regions=(64x64+0+0 300x200+100+50 501x397+137+61 9x576+759+0 200x2048+2248+0 1000x900+0+0)
for region in "${regions[@]}"; do
  for pair in 128/40 82/87; do
    for stretch in 1 3; do
      compare_counts_at "REGION=$region THRESHOLD=${pair%/*} BDLINE=${pair#*/} STRETCH=$stretch" \
        --bdline "${pair#*/}" --threshold "${pair%/*}" --stretch "$stretch" --region "$region"
    done
  done
done

# The photographs a truth.tsv names are found beside it, wherever the run starts; the runs start
# in the source tree so that messages name them samples/...
if [ -f samples/Lathmark.ini ]; then
  current=(--settings samples/Lathmark.ini)
else
  current=(--bdline 40 --threshold 128)
fi
mapfile -t truths < <(find samples -type f -name truth.tsv | LC_ALL=C sort)
for truth in "${truths[@]}"; do
  for side in old new; do
    run "$side" --calibrate "$truth" --json --jobs 2 --bdline 40 --threshold 128
  done
  compare_text "JSON output" "$work/old/stdout" "$work/new/stdout"
  compare_outputs
  counted=$(sed -n 's/.*"photographs":\([0-9]*\).*/\1/p' "$work/old/stdout" | head -n 1)
  report "calibration on $truth, JSON" "${counted:-no} photographs"

  for side in old new; do
    run "$side" "${current[@]}" --calibrate "$truth" --jobs 2 \
      --write-settings "$work/run/Lathmark.ini" --landscape "$work/run/landscape.svg"
    for file in Lathmark.ini landscape.svg; do
      [ -f "$work/$side/$file" ] || : > "$work/$side/$file"
    done
  done
  compare_text "text output" "$work/old/stdout" "$work/new/stdout"
  compare_outputs
  compare_text "settings written" "$work/old/Lathmark.ini" "$work/new/Lathmark.ini"
  compare_text "landscape" "$work/old/landscape.svg" "$work/new/landscape.svg"
  report "calibration on $truth, text with settings and landscape written (${current[*]})" \
    "$(wc -c < "$work/old/landscape.svg") bytes of landscape"
done

if [ "$differing" -eq 0 ]; then
  echo "all $groups groups the same ($SECONDS s)"
  exit 0
fi
echo "$differing of $groups groups differ ($SECONDS s)"
exit 1
