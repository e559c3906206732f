#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (preset "fuzz": ASan + UBSan) and runs each one for
# SECONDS (default 60), starting from its seed corpus tests/fuzz/corpus/<target>/, whose every
# input (the regression cases included) is run once first. What a run learns is kept in
# build/fuzz/corpus/<target>/ for the next run; a crash, leak or failed check stops the script
# with status 1 and leaves the input in build/fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds < 1)); then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi
scripts/install-deps.sh --clang
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# target, then the largest input worth trying
targets=("answer_reader 16384" "answer_head 4096")
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p build/fuzz/artifacts
summary=()
for entry in "${targets[@]}"; do
  read -r target maxLen <<<"$entry"
  binary=build/fuzz/bin/fuzz_$target
  seeds=tests/fuzz/corpus/$target
  work=build/fuzz/corpus/$target
  log=build/fuzz/$target.log
  mkdir -p "$work"
  echo "== fuzz_$target: the seeds, then ${seconds} s"
  "$binary" -runs=0 "$seeds" >"$log" 2>&1 || { cat "$log"; exit 1; }
  if ! "$binary" -max_total_time="$seconds" -max_len="$maxLen" -timeout=25 -rss_limit_mb=2048 \
      -artifact_prefix="build/fuzz/artifacts/$target-" -print_final_stats=1 \
      "$work" "$seeds" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$target failed; the input is in build/fuzz/artifacts/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  inputs=$(find "$work" -type f | wc -l)
  summary+=("fuzz_$target: $runs executions in ${seconds} s ($rate/s), corpus $inputs inputs")
done
printf '%s\n' "${summary[@]}"
