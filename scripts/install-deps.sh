#!/usr/bin/env bash
# Installs what building and testing Corvane needs from Debian's packages. Idempotent: apt-get
# runs only when a package is missing.
# Usage: scripts/install-deps.sh [--windows] [--clang] [--bench]
#   --windows  also the MinGW-w64 cross compiler and wine (with GnuTLS, which wine's TLS uses),
#              for the Windows build and its tests (scripts/test-windows.sh); llvm-dlltool
#              (llvm) for the MSVC-style import libraries, clang and lld-link (lld) to link a C
#              program for the MSVC target against them; tinyproxy for the proxy tests; zlib for
#              MinGW and dpkg-dev, with a deb-src entry derived from the machine's own apt
#              sources, for libcurl, which scripts/build-curl-windows.sh builds from Debian's
#              source package
#   --clang    also clang with its sanitizer and libFuzzer runtimes (scripts/test-sanitizers.sh,
#              scripts/fuzz.sh)
#   --bench    also Google Benchmark, strace (system calls per call) and valgrind (PROFILE=1)
#              for bench/run.sh
set -euo pipefail
windows=0
packages=(
  build-essential cmake pkg-config git clang-format
  rapidjson-dev libcurl4-openssl-dev libssl-dev libcli11-dev
  zlib1g-dev  # gzip: the gateway decodes answers with it, the mock server codes them
  libgtest-dev libgmock-dev
  openssl  # the TLS integration test makes its certificates with it
  lintian dpkg-dev man-db  # scripts/check-packages.sh: the Debian packages, the manual page
  tinyproxy  # the forward proxy of the gateway's proxy tests (started by the test itself)
  python3  # drives the C interface's tests (tests/capi)
  # The Python package (bindings/python): installed offline with pip into a virtual environment
  # and tested with pytest; the C# binding (bindings/csharp): compiled and run with mono.
  python3-pip python3-venv python3-setuptools python3-wheel python3-pytest
  mono-mcs mono-runtime
)
for option in "$@"; do
  case $option in
    --windows)
      packages+=(g++-mingw-w64-x86-64-posix wine64 libgnutls30 llvm lld clang tinyproxy
        libz-mingw-w64-dev dpkg-dev xz-utils)
      windows=1 ;;
    --clang) packages+=(clang clang-14 libclang-rt-14-dev llvm-14) ;;
    --bench) packages+=(libbenchmark-dev strace valgrind) ;;
    *) echo "unknown option: $option" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
  # The package starts a system-wide tinyproxy; the tests start their own.
  if [[ " ${missing[*]} " == *" tinyproxy "* ]] && command -v systemctl >/dev/null; then
    systemctl disable --now tinyproxy >/dev/null 2>&1 || true
  fi
fi

# libcurl for Windows is built from Debian's source package (scripts/build-curl-windows.sh), which
# apt fetches only with a deb-src entry: one is derived from the machine's own deb entries, the
# type changed, so the source comes from the same archive as the binary packages.
if ((windows)); then
  src_list=/etc/apt/sources.list.d/corvane-deb-src.sources
  one_line=/etc/apt/sources.list.d/corvane-deb-src.list
  if [[ ! -e $src_list && ! -e $one_line ]]; then
    for f in /etc/apt/sources.list.d/*.sources; do
      [[ -e $f && $f != "$src_list" ]] || continue
      # deb822 stanzas: keep those whose Types include deb, listing deb-src alone.
      awk 'BEGIN { RS = ""; ORS = "\n\n" }
           /(^|\n)Types:[^\n]*[ \t]deb([ \t]|\n|$)/ &&
             !/(^|\n)Enabled:[ \t]*no/ {
             sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' "$f"
    done >"$src_list.tmp"
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
      [[ -e $f && $f != "$one_line" ]] || continue
      sed -n 's/^[[:space:]]*deb[[:space:]]\+/deb-src /p' "$f"
    done >"$one_line.tmp"
    for f in "$src_list" "$one_line"; do
      if [[ -s $f.tmp ]]; then mv "$f.tmp" "$f"; else rm -f "$f.tmp"; fi
    done
    [[ -e $src_list || -e $one_line ]] || { echo "no deb entry to derive a deb-src entry from" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
  fi
fi
