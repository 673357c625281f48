#!/usr/bin/env bash
# Settings learnt in the window (Ctrl+L) from a journal of 12 station photographs of
# 2448 x 2048, against the same calibration as the batch counter runs it, and how long the
# window goes without painting meanwhile.
#
#   bash bench/bench_learn.sh BUILD_DIR [COUNT WIDTH HEIGHT]
#
# Builds nothing: BUILD_DIR/bin/bench_window and BUILD_DIR/bin/lathmark-make-samples must
# exist. The set is drawn by the sample generator into a temporary folder.
set -euo pipefail

build=${1:-}
count=${2:-12} width=${3:-2448} height=${4:-2048}
if [ -z "$build" ] || [ ! -x "$build/bin/bench_window" ] ||
   [ ! -x "$build/bin/lathmark-make-samples" ]; then
  echo "usage: $0 BUILD_DIR [COUNT WIDTH HEIGHT]   (needs bench_window and lathmark-make-samples)" >&2
  exit 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/lathmark-learn-XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bin/lathmark-make-samples" --station "$work/set" "$count" "$width" "$height" 29 > /dev/null
LATHMARK_LEARN_SET="$work/set" "$build/bin/bench_window" --benchmark_filter=BM_LearnInWindow
