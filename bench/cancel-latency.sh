#!/usr/bin/env bash
# Cancel and close latency (bench/CancelLatency.cpp): the Linux build and the Windows build under
# wine, one after the other, against one corvane-mock-server on 127.0.0.1.
#
#   bench/cancel-latency.sh [LINUX_BUILD [WINDOWS_BUILD]]     (build/bench, build/windows)
#
# LINUX_BUILD is configured like bench/run.sh's when it does not exist; WINDOWS_BUILD must be a
# build of the windows preset (its ZENTA and Ostrel are built here, and CancelLatency.exe is
# compiled against them with MinGW into build/cancel-latency). ROUNDS (100) rounds of each kind,
# cancel moments within the first LATEST_MS (1500) ms of the 8 s answer. Prints the program's
# lines per platform, and the load average before and after.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
linux=${1:-$repo/build/bench}
windows=${2:-$repo/build/windows}
out=$repo/build/cancel-latency
rounds=${ROUNDS:-100}
latest=${LATEST_MS:-1500}

if [[ ! -f $linux/CMakeCache.txt ]]; then
  cmake -S "$repo" -B "$linux" -DCMAKE_BUILD_TYPE=Release -DCORVANE_BUILD_BENCHMARKS=ON \
    -DCORVANE_BUILD_TESTS=OFF
fi
cmake --build "$linux" -j2 --target corvane_bench_cancel corvane-mock-server
cmake --build "$windows" -j2 --target ZENTA Ostrel
mkdir -p "$out"
x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -Wpedantic -Werror \
  -I"$repo/include" -I"$repo/platform/ostrel" "$repo/bench/CancelLatency.cpp" \
  -o "$out/CancelLatency.exe" -static "$windows/lib/libOstrel.dll.a" "$windows/lib/libZENTA.dll.a"
cp "$windows"/bin/*.dll "$out/"

"$linux/bin/corvane-mock-server" --port 0 >"$out/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  url=$(sed -n 's/^listening on //p' "$out/server.log")
  [[ -n $url ]] && break
  sleep 0.1
done
[[ -n $url ]] || { echo "cancel-latency: the server did not start" >&2; exit 1; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Linux ($rounds rounds, moments 0-$latest ms):"
"$linux/bin/corvane_bench_cancel" "$url" "$rounds" "$latest"
echo "Windows under wine ($rounds rounds, moments 0-$latest ms):"
"$windows/wine-run.sh" "$out/CancelLatency.exe" "$url" "$rounds" "$latest"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
