#!/usr/bin/env bash
# Installs what building and testing Corvane needs from Debian's packages. Idempotent: apt-get
# runs only when a package is missing.
# Usage: scripts/install-deps.sh [--windows]
#   --windows  also the MinGW-w64 cross compiler and wine (with GnuTLS, which wine's TLS uses),
#              for the Windows build and its tests (scripts/test-windows.sh)
set -euo pipefail
packages=(
  build-essential cmake pkg-config git clang-format
  rapidjson-dev libcurl4-openssl-dev libcpp-httplib-dev libcli11-dev
  libgtest-dev libgmock-dev
  openssl  # the TLS integration test makes its certificates with it
)
if [[ ${1-} == --windows ]]; then
  packages+=(g++-mingw-w64-x86-64-posix wine64 libgnutls30)
fi
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
