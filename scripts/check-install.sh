#!/usr/bin/env bash
# Installs a build into a scratch prefix and builds examples/ (a C++ and a C program) against the
# installed package (CMake, linking Corvane::Corvane alone, and pkg-config); builds the libraries
# once more as static libraries with the tools and tests off (which must need neither CLI11
# nor GoogleTest) and installs them into the same prefix, beside the shared ones (each kind with
# its own targets file and .pc file, nothing overwritten); builds examples/ against the static
# kind too (CMake with Corvane_USE_STATIC_LIBS and COMPONENTS static, and pkg-config --static
# corvane-static with the C++ compiler and with the C compiler alone); builds examples/ once more with Corvane's sources as a
# subproject (add_subdirectory: Corvane::Corvane without installing, no tools or tests, and
# nothing of Corvane's in the parent project's install); and runs
# every program against the installed simulated server.
#   scripts/check-install.sh BUILD-DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
check=$build/install-check
prefix=$check/prefix
rm -rf "$check"
# The examples' two programs as examples/CMakeLists.txt names them: one in C++, one in C.
read -r cxx cxx_source < <(sed -n 's/^add_executable(\([^ ]*\) \([^ ]*\.cpp\))$/\1 \2/p' examples/CMakeLists.txt)
read -r cprog c_source < <(sed -n 's/^add_executable(\([^ ]*\) \([^ ]*\.c\))$/\1 \2/p' examples/CMakeLists.txt)
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S examples -B "$check/example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$check/example" -j2 >/dev/null
# The same program through pkg-config: it finds the libraries at run time through its run path.
PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
  g++ -std=c++17 examples/$cxx_source -o "$check/$cxx-pc" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs corvane) \
  -Wl,-rpath,"$prefix/lib"
gcc -std=c99 examples/$c_source -o "$check/$cprog-pc" \
  $(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs corvane) \
  -Wl,-rpath,"$prefix/lib"
for library in Corvane Ostrel ZENTA corvane-quim; do
  readelf -d "$prefix/lib/lib$library.so" | grep -q "SONAME.*lib$library\.so\.[0-9]" ||
    { echo "install check: lib$library.so has no versioned SONAME" >&2; exit 1; }
done

# Static libraries, library only: no CLI11, no GoogleTest at configure time.
launcher=$(command -v ccache || true)
cmake -S . -B "$check/static" -DBUILD_SHARED_LIBS=OFF -DCORVANE_BUILD_TOOLS=OFF \
  -DCORVANE_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" \
  -DCMAKE_C_COMPILER_LAUNCHER="$launcher" >/dev/null
if grep -qiE '^(CPPHTTPLIB|cli11|GTest)' "$check/static/CMakeCache.txt"; then
  echo "install check: the library-only configure looked for a tool or test dependency" >&2
  exit 1
fi
cmake --build "$check/static" -j2 >/dev/null
before=$(cd "$prefix" && find . -type f -print0 | xargs -0 sha256sum | sort)
cmake --install "$check/static" --prefix "$prefix" >/dev/null
after=$(cd "$prefix" && find . -type f -print0 | xargs -0 sha256sum | sort)
changed=$(comm -23 <(echo "$before") <(echo "$after") | grep -v '/include/' || true)
if [[ -n $changed ]]; then
  echo "install check: the static install changed the shared install's files: $changed" >&2
  exit 1
fi
for file in lib/cmake/Corvane/CorvaneSharedTargets.cmake lib/cmake/Corvane/CorvaneStaticTargets.cmake \
  lib/pkgconfig/corvane.pc lib/pkgconfig/corvane-static.pc lib/libCorvane.a lib/libCorvane.so; do
  [[ -e $prefix/$file ]] || { echo "install check: $file is missing" >&2; exit 1; }
done
cmake -S examples -B "$check/static-example" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCorvane_USE_STATIC_LIBS=ON >/dev/null
cmake --build "$check/static-example" -j2 >/dev/null
# The shared kind stays the default, and a component asks for either kind.
cmake -S examples -B "$check/example-after-static" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$check/example-after-static" -j2 >/dev/null
[[ $(ldd "$check/example-after-static/$cxx") == *libCorvane.so* ]] ||
  { echo "install check: find_package(Corvane) no longer gives the shared libraries" >&2; exit 1; }
mkdir -p "$check/components-src"
cat >"$check/components-src/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.20)
project(CorvaneComponents LANGUAGES C CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(Corvane 0.1 REQUIRED COMPONENTS static)
add_executable($cxx $PWD/examples/$cxx_source)
target_link_libraries($cxx PRIVATE Corvane::Corvane)
EOF
cmake -S "$check/components-src" -B "$check/components" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$check/components" -j2 >/dev/null
static_flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" \
  pkg-config --static --cflags --libs corvane-static)
g++ -std=c++17 examples/$cxx_source -o "$check/$cxx-static-pc" $static_flags
# A C program linked by the C compiler's driver: the C++ runtime comes from Libs.private.
gcc -std=c99 examples/$c_source -o "$check/$cprog-static-pc" $static_flags

# Corvane's sources as a subproject of the examples' project: the in-tree Corvane::Corvane, the
# tools and tests off without being asked (so no CLI11, cpp-httplib or GoogleTest is looked for).
cmake -S examples -B "$check/subproject" -DCORVANE_SOURCE_DIR="$PWD" -DBUILD_SHARED_LIBS=OFF \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" \
  -DCMAKE_C_COMPILER_LAUNCHER="$launcher" >/dev/null
if grep -qiE '^(CPPHTTPLIB|cli11|GTest)' "$check/subproject/CMakeCache.txt" ||
  ! grep -qx 'CORVANE_BUILD_TOOLS:BOOL=OFF' "$check/subproject/CMakeCache.txt" ||
  ! grep -qx 'CORVANE_BUILD_TESTS:BOOL=OFF' "$check/subproject/CMakeCache.txt"; then
  echo "install check: as a subproject, Corvane did not leave its tools and tests off" >&2
  exit 1
fi
cmake --build "$check/subproject" -j2 >/dev/null
# Its install leaves Corvane out: nothing of Corvane's lands in the parent project's prefix.
cmake --install "$check/subproject" --prefix "$check/subproject-prefix" >/dev/null
if [[ -n $(find "$check/subproject-prefix" -ipath '*corvane*' -o -name 'libZENTA*' 2>/dev/null) ]]; then
  echo "install check: the parent project's install installed Corvane's files" >&2; exit 1
fi
if [[ -e $check/subproject/corvane/bin/corvane-mock-server ]]; then
  echo "install check: the subproject built the simulated server" >&2; exit 1
fi

for program in "$check/static-example/$cxx" "$check/static-example/$cprog" "$check/components/$cxx" \
  "$check/$cxx-static-pc" "$check/$cprog-static-pc" "$check/subproject/$cxx"; do
  if ldd "$program" | grep -qE 'lib(Corvane|Ostrel|ZENTA|quim)'; then
    echo "install check: $program is not linked statically" >&2; exit 1
  fi
done

out=$check/server.out
"$prefix/bin/corvane-mock-server" --port 0 >"$out" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do grep -q '^listening on ' "$out" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$out" | head -n 1)
programs=("$check/example/$cxx" "$check/$cxx-pc" "$check/static-example/$cxx" "$check/components/$cxx"
  "$check/$cxx-static-pc" "$check/subproject/$cxx")
for program in "${programs[@]}" "$check/example/$cprog" "$check/$cprog-pc" \
  "$check/static-example/$cprog" "$check/$cprog-static-pc" \
  "$check/subproject/$cprog"; do
  records=$("$program" "$url" D1001-C01)
  [[ -n $records ]] || { echo "install check: $program printed nothing" >&2; exit 1; }
  # A refusal: one line with the server's code and words, exit status 1.
  refusal=$("$program" "$url" D1001-C99 2>&1) && status=0 || status=$?
  if [[ $status != 1 || $refusal != *"the server refused the request with code 4004: no channel"* ]]
  then
    echo "install check: $program said on a refusal ($status): $refusal" >&2; exit 1
  fi
done
"$prefix/bin/corvane" --server "$url" ai-privacy >/dev/null
echo "install check: the installed package builds and runs, shared, static and as a subproject," \
  "from C++ and C ($(wc -l <<<"$records") records each)"
