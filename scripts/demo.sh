#!/usr/bin/env bash
# Installs what is needed, builds the command-line client and runs its demo: every operation of
# the library through the real HTTP gateway against the simulated platform server, which the
# client starts in-process on a free loopback port (--simulate).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/main}
scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target corvane
"$build/bin/corvane" --simulate demo
