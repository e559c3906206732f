#!/usr/bin/env bash
# Installs clang with its sanitizer and libFuzzer runtimes from Debian's packages, for
# scripts/test-sanitizers.sh and scripts/fuzz.sh. Idempotent: apt-get runs only when one is missing.
set -euo pipefail
packages=(clang clang-14 libclang-rt-14-dev llvm-14)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
