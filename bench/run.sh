#!/usr/bin/env bash
# Builds the benchmarks (Release, CORVANE_BUILD_BENCHMARKS=ON) in build/bench, runs them with JSON
# output into build/bench/results/ and draws docs/benchmarks.svg from that output.
#
#   bench/run.sh                      # about 10 minutes on 2 cores
#   ROUNDS=3 E2E_ROUNDS=2 bench/run.sh
#   BASELINE=/path/to/other/build bench/run.sh
#   PROFILE=1 bench/run.sh            # also callgrind profiles of 1 000 calls per client
#   NEIGHBOUR=1 bench/run.sh          # the end-to-end rounds beside a noisy neighbour
#
# The machine is expected to be shared and its speed to drift: every program runs ROUNDS times
# (E2E_ROUNDS for the end-to-end one) and every figure is the median over the rounds. BASELINE
# names the build folder of an earlier tree built with these same bench/ sources (its bin/ holds
# both benchmark programs); its programs then run in turns with these, round by round, and the
# summary and chart show before and after.
#
# System calls per call are counted from strace's log (without -f: the calling thread only, not
# the servers it starts), in runs of the end-to-end program that make only one client's calls
# (CORVANE_BENCH_CALLS=CLIENT:N) between two marks in the log; report.py counts what lies
# between them and tells checks (poll with timeout 0) from waits. strace needs no
# privileges to trace its own child; `perf stat -e raw_syscalls:sys_enter` would need the
# kernel's tracepoints, which an unprivileged user may not count (perf_event_paranoid 2) and
# which count nothing with the user-only ":u" modifier.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/bench
results=$build/results
rounds=${ROUNDS:-9}
e2e_rounds=${E2E_ROUNDS:-5}
baseline=${BASELINE:-}
profile=${PROFILE:-}
neighbour=${NEIGHBOUR:-}

# Google Benchmark from Debian, next to what the build needs anyway (idempotent: apt-get runs only
# for a missing package).
bash "$root/scripts/install-deps.sh" --bench

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_BENCHMARKS=ON \
  -DCORVANE_BUILD_TESTS=OFF
cmake --build "$build" -j2 --target corvane_bench_library corvane_bench_e2e corvane-mock-server \
  corvane_bench_neighbour
mkdir -p "$results"

{
  echo "date: $(date -u +%Y-%m-%dT%H:%M:%SZ)"
  echo "commit: $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)"
  lscpu | grep -E '^(Architecture|CPU\(s\)|Model name|Thread\(s\) per core|Core\(s\) per socket|L2 cache|L3 cache|Hypervisor vendor):'
  echo "compiler: $(c++ --version | head -1)"
  echo "libcurl: $(curl-config --version 2>/dev/null || echo unknown)"
  echo "build type: Release (-O3 -DNDEBUG)"
  echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  if [[ -n $neighbour ]]; then
    echo "noisy neighbour: corvane_bench_neighbour at nice 10 during the end-to-end rounds"
  fi
} >"$results/machine.txt"

rm -f "$results"/*.json "$results"/strace* "$results"/callgrind-*
for round in $(seq "$rounds"); do
  echo "library benchmarks, round $round of $rounds"
  "$build/bin/corvane_bench_library" --benchmark_out="$results/library-$round.json" \
    --benchmark_out_format=json >/dev/null
  if [[ -n $baseline ]]; then
    "$baseline/bin/corvane_bench_library" --benchmark_out="$results/baseline-library-$round.json" \
      --benchmark_out_format=json >/dev/null
  fi
done
# A slow moment on purpose: a process that keeps evicting the shared caches runs beside the
# end-to-end rounds (not the strace counts or profiles, which count rather than time).
neighbour_pid=
if [[ -n $neighbour ]]; then
  nice -n 10 "$build/bin/corvane_bench_neighbour" &
  neighbour_pid=$!
  trap 'kill "$neighbour_pid" 2>/dev/null || true' EXIT
fi
for round in $(seq "$e2e_rounds"); do
  echo "end-to-end benchmarks, round $round of $e2e_rounds"
  "$build/bin/corvane_bench_e2e" --benchmark_min_time=2 \
    --benchmark_out="$results/e2e-$round.json" --benchmark_out_format=json >/dev/null
  if [[ -n $baseline ]]; then
    "$baseline/bin/corvane_bench_e2e" --benchmark_min_time=2 \
      --benchmark_out="$results/baseline-e2e-$round.json" --benchmark_out_format=json >/dev/null
  fi
done

if [[ -n $neighbour_pid ]]; then
  kill "$neighbour_pid"
  wait "$neighbour_pid" 2>/dev/null || true
fi

e2e_clients=(library-get raw-get library-post raw-post
  library-get-tls raw-get-tls library-post-tls raw-post-tls)
if command -v strace >/dev/null; then
  echo "system calls per call (strace)"
  for client in "${e2e_clients[@]}"; do
    CORVANE_BENCH_CALLS=$client:1000 strace -s 0 -e signal=none -o "$results/strace-$client.txt" \
      "$build/bin/corvane_bench_e2e" >/dev/null 2>>"$results/strace.log"
  done
else
  echo "strace is not installed (apt-get install strace): no system call counts"
fi

# Instruction counts are repeatable where wall time is not: 1 000 calls per client under
# callgrind, collected inside the loop of calls only (callgrind_annotate FILE reads them).
if [[ -n $profile ]]; then
  for client in "${e2e_clients[@]:0:4}" raw-parsed-get raw-parsed-post; do
    echo "callgrind: $client"
    CORVANE_BENCH_CALLS=$client:1000 valgrind --tool=callgrind --collect-atstart=no \
      --toggle-collect='*MeasuredLoop*' --callgrind-out-file="$results/callgrind-$client.out" \
      "$build/bin/corvane_bench_e2e" >/dev/null 2>"$results/callgrind-$client.log"
  done
fi

echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$results/machine.txt"

python3 "$root/bench/report.py" "$results" --svg "$root/docs/benchmarks.svg" \
  --markdown "$results/summary.md" --page "$root/docs/benchmarks.md"
echo "results: $results (summary.md, machine.txt); tables: docs/benchmarks.md; chart: docs/benchmarks.svg"
