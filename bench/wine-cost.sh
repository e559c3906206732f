#!/usr/bin/env bash
# What a call through the Windows gateway costs under wine: two Windows builds side by side in one
# run, against corvane-mock-server on 127.0.0.1.
#
#   bench/wine-cost.sh FIRST SECOND
#
# FIRST and SECOND each name either a Windows build tree (configured from the windows preset: the
# DLLs in bin/, the import libraries in lib/, corvane-mock-server in host/bin/), or a git revision:
# its Windows build is then made in build/wine-cost/<commit> from a detached worktree of that
# commit (build/wine-cost/src-<commit>), configured with that commit's windows preset, and reused
# by later runs. Both may name the same build.
#
# bench/wine/WineCost.cpp is compiled against each build's ZentaSdk.h and import libraries, so a
# build older than the program works too. Per build and row (http and https, one thread and four
# on one session):
#   - counted: COUNT_CALLS calls from a fresh session, through bench/wine/wire_count.py, which
#     counts the TCP connections and the TLS handshakes (full or resumed) on the wire;
#   - timed: PAIRS pairs of runs, the two builds alternating (the first build first in odd pairs,
#     the second first in even ones), each run WARM_UP calls and then CALLS (http) or TLS_CALLS
#     (https) timed calls, straight to the server.
# The table (medians over the pairs) goes to standard output and to build/wine-cost/run/table.md.
#
# Environment: PAIRS (6), CALLS (300), TLS_CALLS (150), COUNT_CALLS (100), WARM_UP (5).
# Timings on a loaded machine move by tens of percent: the script prints the load average before
# and after; run it on a quiet machine for figures worth publishing.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
here=$repo/bench/wine
work=$repo/build/wine-cost
out=$work/run
PAIRS=${PAIRS:-6} CALLS=${CALLS:-300} TLS_CALLS=${TLS_CALLS:-150}
COUNT_CALLS=${COUNT_CALLS:-100} WARM_UP=${WARM_UP:-5}
ROWS=(http-1 http-4 https-1 https-4)

say() { printf 'wine-cost: %s\n' "$*" >&2; }
die() {
  say "$*"
  exit 1
}

# Builds the Windows DLLs of a revision into build/wine-cost/<commit> and prints that folder.
build_revision() {
  local sha short src tree launchers=()
  sha=$(git -C "$repo" rev-parse --verify --quiet "$1^{commit}") ||
    die "$1 is neither a build tree nor a revision of this repository"
  short=${sha:0:7}
  src=$work/src-$short tree=$work/$short
  if [[ ! -d $src ]]; then
    git -C "$repo" worktree add --detach "$src" "$sha" >&2 || die "no worktree for $short"
  fi
  if command -v ccache >/dev/null; then
    launchers=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  if [[ ! -f $tree/CMakeCache.txt ]]; then
    say "configuring the Windows build of $short in $tree"
    (cd "$src" && cmake --preset windows -B "$tree" "${launchers[@]}") >&2 ||
      die "the Windows build of $short did not configure"
  fi
  say "building ZENTA, Ostrel and the host servers of $short"
  nice -n 5 cmake --build "$tree" -j2 --target ZENTA Ostrel corvane_host_tools >&2 ||
    die "the Windows build of $short failed"
  printf '%s\n' "$tree"
}

# The build tree an argument names, built first when it names a revision.
tree_of() {
  if [[ -f $1/CMakeCache.txt ]]; then
    (cd "$1" && pwd)
  else
    build_revision "$1"
  fi
}

source_of() { sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$1/CMakeCache.txt"; }

# "WinHTTP <commit>" or "libcurl <commit>": what carries the requests of the build's ZENTA.dll.
label_of() {
  local transport=libcurl commit
  if x86_64-w64-mingw32-objdump -p "$1/bin/ZENTA.dll" | grep WinHttpSendRequest >/dev/null; then
    transport=WinHTTP
  fi
  commit=$(git -C "$(source_of "$1")" rev-parse --short HEAD)
  if [[ -n $(git -C "$(source_of "$1")" status --porcelain --untracked-files=no) ]]; then
    commit+="+changes"
  fi
  printf '%s %s' "$transport" "$commit"
}

# Compiles WineCost.exe against a build tree into $out/<name>, next to copies of its DLLs.
prepare_program() {
  local tree=$1 name=$2 lib
  mkdir -p "$out/$name"
  for lib in libOstrel.dll.a libZENTA.dll.a; do
    [[ -f $tree/lib/$lib ]] || die "$tree/lib/$lib is missing: build ZENTA and Ostrel there"
  done
  x86_64-w64-mingw32-g++-posix -std=c++17 -O2 -Wall -Wextra -Wpedantic -Werror \
    -I"$(source_of "$tree")/include" "$here/WineCost.cpp" -o "$out/$name/WineCost.exe" \
    -static "$tree/lib/libOstrel.dll.a" "$tree/lib/libZENTA.dll.a"
  cp "$tree"/bin/*.dll "$out/$name/"
}

# A test CA and a certificate it issued for localhost (wine checks DNS names only), RSA 2048.
make_certificates() {
  local pki=$out/pki
  mkdir -p "$pki"
  (
    cd "$pki"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=CorvaneBenchCA \
      -keyout ca-key.pem -out ca.pem
    openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server-key.pem -out server.csr
    printf '%s\n' 'subjectAltName=DNS:localhost' 'extendedKeyUsage=serverAuth' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 2 \
      -extfile server.ext -out server.pem
  ) 2>/dev/null
}

pids=()
wineserver_started=
stop_all() {
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [[ -n $wineserver_started ]]; then "$wineserver" -k 2>/dev/null || true; fi
}

# Starts a Linux program whose first line is "listening on <what>"; sets heard to <what>.
start_listener() {
  local log=$1 line i
  shift
  "$@" </dev/null >"$log" 2>&1 &
  pids+=($!)
  for ((i = 0; i < 200; ++i)); do
    if [[ -s $log ]] && IFS= read -r line <"$log" && [[ $line == "listening on "* ]]; then
      heard=${line#listening on }
      return
    fi
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.05
  done
  die "$1 did not start: $(head -c 400 "$log")"
}

# One wine server for the whole run, in a prefix of this script's own, stopped at the end.
start_wine() {
  export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
  wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  mkdir -p "$WINEPREFIX"
  if "$wineserver" -p </dev/null >/dev/null 2>&1; then
    wineserver_started=1
    "$wine" wineboot --init </dev/null >/dev/null 2>&1
  else
    die "a wine server already runs for $WINEPREFIX (another run of this script?)"
  fi
}

# run <build> <row> <url> <calls> <warm-up>: one run of WineCost.exe; prints its result line.
run() {
  local build=$1 row=$2 url=$3 calls=$4 warm=$5 ca=- threads=${2#*-}
  [[ $row == https-* ]] && ca=$ca_windows
  timeout 300 "$wine" "$out/$build/WineCost.exe" "$url" "$ca" "$threads" "$calls" "$warm" \
    </dev/null 2>"$out/$build/stderr.txt" || die "$build $row failed: $(cat "$out/$build/stderr.txt")"
}

events() { grep -c "^$1\$" "$2" || true; }

# Counts connections and TLS handshakes of COUNT_CALLS calls from a fresh session, per build and
# row, through the counting fronts.
count_rows() {
  local build row log url before=() after=() event
  for build in a b; do
    for row in "${ROWS[@]}"; do
      if [[ $row == https-* ]]; then
        log=$out/front-tls.log url=https://localhost:$front_tls
      else
        log=$out/front-plain.log url=http://127.0.0.1:$front_plain
      fi
      before=()
      for event in connection handshake certificate; do before+=("$(events $event "$log")"); done
      run "$build" "$row" "$url" "$COUNT_CALLS" 0 >/dev/null
      sleep 0.3
      after=()
      for event in connection handshake certificate; do after+=("$(events $event "$log")"); done
      printf '%s %s %s %s %s %s\n' "$build" "$row" "$COUNT_CALLS" $((after[0] - before[0])) \
        $((after[1] - before[1])) $((after[2] - before[2])) >>"$out/counts.tsv"
    done
  done
}

# PAIRS timed pairs per row, the order of the two builds turning every pair.
time_rows() {
  local pair row build order url calls result
  for ((pair = 1; pair <= PAIRS; ++pair)); do
    order=(a b)
    ((pair % 2)) || order=(b a)
    for row in "${ROWS[@]}"; do
      url=http://127.0.0.1:$plain_port calls=$CALLS
      if [[ $row == https-* ]]; then url=https://localhost:$tls_port calls=$TLS_CALLS; fi
      for build in "${order[@]}"; do
        result=$(run "$build" "$row" "$url" "$calls" "$WARM_UP")
        printf '%s %s %s %s\n' "$build" "$row" "$pair" \
          "$(awk '{print $8, $10}' <<<"$result")" >>"$out/times.tsv"
      done
    done
    say "pair $pair of $PAIRS done"
  done
}

main() {
  (($# == 2)) || die "usage: bench/wine-cost.sh FIRST SECOND (build trees or revisions)"
  local first second mock label_a label_b
  bash "$repo/scripts/install-deps.sh" --windows >&2
  first=$(tree_of "$1") || exit 1
  second=$(tree_of "$2") || exit 1
  mock=$first/host/bin/corvane-mock-server
  [[ -x $mock ]] || mock=$second/host/bin/corvane-mock-server
  [[ -x $mock ]] || die "no host/bin/corvane-mock-server in either tree (build corvane_host_tools)"
  label_a=$(label_of "$first") label_b=$(label_of "$second")
  rm -rf "$out"
  mkdir -p "$out"
  prepare_program "$first" a
  prepare_program "$second" b
  make_certificates
  ca_windows="Z:${out//\//\\}\\pki\\ca.pem"

  trap stop_all EXIT
  trap 'exit 143' TERM INT HUP
  start_listener "$out/server-plain.log" "$mock" --port 0 --no-gzip
  plain_port=${heard##*:}
  start_listener "$out/server-tls.log" "$mock" --port 0 --no-gzip \
    --tls-cert "$out/pki/server.pem" --tls-key "$out/pki/server-key.pem" --tls-max-version 1.2
  tls_port=${heard##*:}
  start_listener "$out/front-plain.log" python3 "$here/wire_count.py" "$plain_port"
  front_plain=$heard
  start_listener "$out/front-tls.log" python3 "$here/wire_count.py" "$tls_port"
  front_tls=$heard
  start_wine

  {
    echo "first: $label_a ($first)"
    echo "second: $label_b ($second)"
    echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $("$wine" --version 2>/dev/null || true)"
    echo "pairs $PAIRS, calls $CALLS (http) / $TLS_CALLS (https) after $WARM_UP warm-up calls"
    echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
  } >"$out/machine.txt"
  say "counting connections and handshakes"
  count_rows
  say "timing $PAIRS pairs per row"
  time_rows
  echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"
  {
    cat "$out/machine.txt"
    echo
    python3 "$here/cost_table.py" "$out/times.tsv" "$out/counts.tsv" "$label_a" "$label_b"
  } | tee "$out/table.md"
}

main "$@"
