#!/bin/bash
# Runs fuzz_monitor of a clang build (ARVEX_FUZZ=ON) from the seed corpus:
#   tests/fuzz/run-fuzz.sh BUILD_DIR SECONDS [RUNS] [libFuzzer options...]
# Stops after SECONDS or RUNS executions (RUNS 0: no limit), whichever comes
# first. New inputs go to BUILD_DIR/fuzz-corpus (kept between runs), crash,
# leak and time-out inputs to BUILD_DIR/fuzz-artifacts. Exits non-zero when
# the target failed.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
seconds="$2"
runs="${3:-0}"
shift 3 2>/dev/null || shift $#

target="$build/tests/fuzz/fuzz_monitor"
if [ ! -x "$target" ]; then
  echo "run-fuzz: $target is missing (configure with -DARVEX_FUZZ=ON and clang)" >&2
  exit 1
fi
mkdir -p "$build/fuzz-corpus" "$build/fuzz-artifacts" "$build/fuzz-cwd"
# The target fails when its working directory changes during an input (a
# relative path escaping confinement): give it one that nothing else touches.
cd "$build/fuzz-cwd"
limits=(-max_total_time="$seconds")
if [ "$runs" -gt 0 ]; then
  limits+=(-runs="$runs")
fi
# -max_len: the longest seed, and room past the 8192-byte receive buffer.
# Inputs differ in cost by a factor of 300 (a full-size image in 32-byte
# segments against a bare NOP): scheduling the quick ones more doubles the
# executions per second for the same coverage.
"$target" "${limits[@]}" -max_len=9000 -timeout=20 -rss_limit_mb=4096 \
  -entropic_scale_per_exec_time=1 \
  -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/" "$@" \
  "$build/fuzz-corpus" "$here/corpus"
