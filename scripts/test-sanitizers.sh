#!/usr/bin/env bash
# Builds with the sanitizer presets and runs the tests under them; any report fails the run.
#   asan: AddressSanitizer + UndefinedBehaviorSanitizer (leak checks on, halt on the first error):
#         every unit and integration test, and the load test in a short form.
#   tsan: ThreadSanitizer: the concurrency tests (gateway, quim, and the load test's eight threads
#         on one handle in a short form); the preset's build and test filters pick them.
# Options and suppressions come with the presets (CMakePresets.json, tests/sanitizers/).
# Usage: scripts/test-sanitizers.sh [asan|tsan]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --clang
presets=("$@")
if ((${#presets[@]} == 0)); then presets=(asan tsan); fi
for preset in "${presets[@]}"; do
  case $preset in
    asan | tsan) ;;
    *) echo "unknown preset: $preset (asan or tsan)" >&2; exit 2 ;;
  esac
  start=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
  echo "$preset: built and tested in $((SECONDS - start)) s"
done
