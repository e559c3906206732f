#!/usr/bin/env bash
# Builds the Windows x86-64 DLLs and test programs with MinGW-w64 (the "windows" preset, in
# build/windows) and runs their tests under wine, with warnings as errors.
# Usage: scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows
cmake --preset windows
cmake --build --preset windows

# One wine server for the whole run, started apart from this script's output (CTest would wait for
# every process holding a test's output) and stopped at the end; the test programs find it running
# (see cmake/wine-run.sh.in).
export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
mkdir -p "$WINEPREFIX"
trap '"$wineserver" -k 2>/dev/null || true' EXIT
if "$wineserver" -p </dev/null >/dev/null 2>&1; then
  "$wine" wineboot --init </dev/null >/dev/null 2>&1
fi
ctest --preset windows
