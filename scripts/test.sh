#!/usr/bin/env bash
# Installs what is needed, builds everything with warnings as errors, checks the formatting and
# runs every test suite: unit, integration, command-line client and load tests; the installed
# package; the Windows build under wine; the unit and integration tests under AddressSanitizer
# and UndefinedBehaviorSanitizer and the concurrency tests under ThreadSanitizer; 60 s of each
# fuzzer.
# Usage: scripts/test.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
scripts/install-deps.sh
git ls-files -z '*.h' '*.cpp' | xargs -0 -r clang-format --dry-run --Werror
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON
cmake --build "$build" -j2
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
scripts/check-install.sh "$build"
scripts/test-windows.sh
scripts/check-packages.sh "$build" build/windows
scripts/test-sanitizers.sh
scripts/fuzz.sh 60
echo "scripts/test.sh: every suite passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
