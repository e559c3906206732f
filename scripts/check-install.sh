#!/usr/bin/env bash
# Installs a build into a scratch prefix, builds examples/ against the installed package (CMake
# and pkg-config), and runs it against the installed simulated server.
#   scripts/check-install.sh BUILD-DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
prefix=$build/install-check/prefix
rm -rf "$build/install-check"
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S examples -B "$build/install-check/example" -DCMAKE_PREFIX_PATH="$PWD/$prefix" >/dev/null
cmake --build "$build/install-check/example" -j2 >/dev/null
# The same program through pkg-config.
PKG_CONFIG_PATH="$PWD/$prefix/lib/pkgconfig" \
  g++ -std=c++17 examples/ptz_trails.cpp -o "$build/install-check/ptz-trails-pc" \
  $(PKG_CONFIG_PATH="$PWD/$prefix/lib/pkgconfig" pkg-config --cflags --libs corvane) \
  -Wl,-rpath,"$PWD/$prefix/lib"

out=$build/install-check/server.out
"$prefix/bin/corvane-mock-server" --port 0 >"$out" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do grep -q '^listening on ' "$out" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$out" | head -n 1)
for program in "$build/install-check/example/ptz-trails" "$build/install-check/ptz-trails-pc"; do
  trails=$("$program" "$url" D1001-C01)
  [[ -n $trails ]] || { echo "install check: $program printed no trails" >&2; exit 1; }
done
"$prefix/bin/corvane" --server "$url" ai-privacy >/dev/null
echo "install check: the installed package builds and runs ($(wc -l <<<"$trails") trails)"
