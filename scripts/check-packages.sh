#!/usr/bin/env bash
# Builds the packages (`--target packages`) and checks each as its user would meet it:
#   - the Debian packages: lintian reports no error; the client and the library packages
#     extracted side by side run `corvane --simulate ptz-trails D1001-C01`; the manual page
#     renders with `man -l` without warnings; the tools package depends on the library package;
#     examples/ builds against the development package and runs;
#   - the wheel: installed into a fresh virtual environment, `import corvane` loads the bundled
#     library (no CORVANE_LIBRARY) and runs an operation against the simulated server;
#   - the NuGet package: its entries (the manifest, the assembly, the native libraries), and a
#     C# program compiled against its assembly runs under mono with its Linux libraries;
#   - given a Windows build tree, the NuGet package's Windows DLLs; the Windows zip's DLLs, both
#     kinds of import library and headers, and that its CMake package gives a consumer built with
#     MSVC the MSVC-style import libraries (whose contents windows.binary_interface checks).
#   scripts/check-packages.sh BUILD-DIR [WINDOWS-BUILD-DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "$1" && pwd)
packages=$build/packages
check=$build/package-check
fail() { echo "package check: $*" >&2; exit 1; }
windows=
if (($# > 1)); then windows=$(cd "$2" && pwd); fi
cmake -DCORVANE_WINDOWS_BUILD_DIR="$windows" "$build" >/dev/null
nice -n 5 cmake --build "$build" -j2 --target packages >/dev/null
rm -rf "$check"
mkdir -p "$check"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

# Debian packages: no lintian error (warnings are reported, not fatal).
debs=("$packages"/*_"$version"_*.deb)
((${#debs[@]} == 4)) || fail "expected 4 Debian packages, found: ${debs[*]}"
lintian --tag-display-limit 0 "${debs[@]}" 2>/dev/null | tee "$check/lintian.txt" >&2 || true
if grep -q '^E:' "$check/lintian.txt"; then fail "lintian found errors"; fi
depends=$(dpkg-deb -f "$packages/corvane_${version}_amd64.deb" Depends)
[[ $depends == *"libcorvane0 (= $version)"* ]] || fail "corvane's Depends: $depends"
dpkg-deb -f "$packages/libcorvane0_${version}_amd64.deb" Depends | grep -q 'libcurl4' ||
  fail "libcorvane0 does not depend on libcurl4"
for deb in libcorvane0 corvane; do dpkg-deb -x "$packages/${deb}_${version}_amd64.deb" "$check/root"; done
out=$("$check/root/usr/bin/corvane" --simulate ptz-trails D1001-C01 2>/dev/null) ||
  fail "the packaged corvane failed"
[[ -n $out ]] || fail "the packaged corvane printed nothing"
if ldd "$check/root/usr/bin/corvane" | grep -E 'lib(Corvane|Ostrel|ZENTA|quim)' | grep -qv "$check/root"; then
  fail "the packaged corvane loads a library from outside the package"
fi
warnings=$(MANWIDTH=80 man --warnings -l "$check/root/usr/share/man/man1/corvane.1.gz" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "man -l warns: $warnings"
MANWIDTH=80 man -l "$check/root/usr/share/man/man1/corvane.1.gz" 2>/dev/null | grep -q -- '--token' ||
  fail "the manual page does not show --token"
[[ -s $check/root/usr/share/bash-completion/completions/corvane ]] || fail "no bash completion"

# The wheel, in a fresh virtual environment, without CORVANE_LIBRARY, against the simulated
# server of its own package.
dpkg-deb -x "$packages/corvane-mock-server_${version}_amd64.deb" "$check/root"
"$check/root/usr/bin/corvane-mock-server" --port 0 >"$check/server.out" &
server=$!
trap 'kill $server 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do grep -q '^listening on ' "$check/server.out" && break; sleep 0.1; done
url=$(sed -n 's/^listening on //p' "$check/server.out" | head -n 1)
python=/usr/bin/python3
"$python" -m venv "$check/venv"
"$check/venv/bin/python" -m pip install -q --no-index "$packages"/corvane-"$version"-*.whl
(cd "$check" && env -u CORVANE_LIBRARY "$check/venv/bin/python" - "$url" <<'EOF'
import os, sys, corvane
from corvane import _native
libraries = _native.Libraries()
assert os.path.dirname(libraries.corvane_path) == os.path.dirname(corvane.__file__), \
    libraries.corvane_path
with corvane.Client(sys.argv[1]) as client:
    trails = client.get_ptz_trail_list("D1001-C01")
assert trails, "no trails"
print("package check: the wheel's", libraries.corvane_path, "read", len(trails), "trails")
EOF
) || fail "the wheel does not work with its bundled library"

# The NuGet package: a zip with its manifest, the assembly and the native libraries.
nupkg=$packages/Corvane.$version.nupkg
entries=$("$python" -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$nupkg")
echo "$entries" >"$check/nupkg.txt"
for entry in Corvane.nuspec '[Content_Types].xml' _rels/.rels lib/net472/Corvane.dll \
  runtimes/linux-x64/native/libCorvane.so runtimes/linux-x64/native/libZENTA.so \
  runtimes/linux-x64/native/libOstrel.so.0 runtimes/linux-x64/native/libcorvane-quim.so.0; do
  grep -qxF "$entry" "$check/nupkg.txt" || fail "$nupkg lacks $entry"
done
# The development package, extracted beside the library package, builds examples/ (CMake) and
# the program runs against the packaged server.
dpkg-deb -x "$packages/libcorvane-dev_${version}_amd64.deb" "$check/root"
cmake -S examples -B "$check/dev-example" -DCMAKE_PREFIX_PATH="$check/root/usr" >/dev/null
cmake --build "$check/dev-example" -j2 >/dev/null
read -r example _ < <(sed -n 's/^add_executable(\([^ ]*\) \([^ ]*\.cpp\))$/\1 \2/p' examples/CMakeLists.txt)
[[ -n $("$check/dev-example/$example" "$url" D1001-C01) ]] ||
  fail "examples/ built against the development package printed nothing"
# Nothing generic in the system's folders: every header under include/Corvane (the base library's
# and the gateway's in quim/ and zenta/ below it), every library named for the project; and a
# program links only libCorvane and libZENTA, through the CMake package as through the .pc file.
[[ $(ls "$check/root/usr/include") == Corvane ]] || fail "headers outside include/Corvane"
for header in Corvane.h CorvaneC.h zenta/ZentaSdk.h quim/Json.h; do
  [[ -f $check/root/usr/include/Corvane/$header ]] || fail "include/Corvane/$header is missing"
done
foreign=$(find "$check/root/usr/lib" -mindepth 1 -maxdepth 1 -name 'lib*' |
  grep -vE '/lib(Corvane|Ostrel|ZENTA|corvane-)' || true)
[[ -z $foreign ]] || fail "libraries without the project's name: $foreign"
if readelf -d "$check/dev-example/$example" | grep -E 'NEEDED.*lib(Ostrel|corvane-quim)'; then
  fail "a program built with the CMake package links the library's private dependencies"
fi
pc_libs=$(PKG_CONFIG_PATH="$check/root/usr/lib/pkgconfig" pkg-config --libs-only-l corvane | xargs)
[[ $pc_libs == "-lCorvane -lZENTA" ]] || fail "corvane.pc links $pc_libs"

# The assembly and the Linux libraries as a C# program meets them: compiled against the
# package's assembly, run by mono with the package's native folder as its library path.
"$python" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$nupkg" "$check/nupkg"
cat >"$check/Trails.cs" <<'EOF'
using System;
using Corvane;
class Trails
{
    static int Main(string[] args)
    {
        using (var client = new CorvaneClient(args[0]))
            return client.GetPtzTrailList("D1001-C01").Count > 0 ? 0 : 1;
    }
}
EOF
cp "$check/nupkg/lib/net472/Corvane.dll" "$check/"
mcs -nologo -r:"$check/Corvane.dll" -out:"$check/Trails.exe" "$check/Trails.cs"
LD_LIBRARY_PATH="$check/nupkg/runtimes/linux-x64/native" mono "$check/Trails.exe" "$url" ||
  fail "a C# program over the NuGet package's assembly and libraries failed"

# Given a Windows build tree, the NuGet package carries its DLLs, and the Windows zip is checked
# as a Windows developer unpacks it.
if [[ -n $windows ]]; then
  grep -qxF runtimes/win-x64/native/Corvane.dll "$check/nupkg.txt" ||
    fail "$nupkg lacks the Windows DLLs"
  "$python" -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
    "$packages/Corvane-$version-win64.zip" "$check/windows"
  top=$check/windows/Corvane-$version-win64
  for entry in bin/Corvane.dll bin/ZENTA.dll bin/Ostrel.dll bin/libquim.dll lib/Corvane.lib \
    lib/ZENTA.lib lib/Ostrel.lib lib/libCorvane.dll.a lib/libZENTA.dll.a \
    include/Corvane/CorvaneC.h include/Corvane/zenta/ZentaSdk.h doc/windows.md; do
    [[ -f $top/$entry ]] || fail "the Windows zip lacks $entry"
  done
  # The import libraries the zip's CMake package hands Corvane::Corvane and Corvane::ZENTA, with
  # MSVC (the variable an MSVC toolchain sets, set by hand: no MSVC runs here) and without.
  mkdir -p "$check/msvc-consumer"
  cat >"$check/msvc-consumer/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(ImportLibraryChoice LANGUAGES C)
set(MSVC ${AS_MSVC})
find_package(Corvane REQUIRED COMPONENTS shared)
foreach(library Corvane ZENTA)
  get_target_property(implib Corvane::${library} IMPORTED_IMPLIB_RELEASE)
  get_filename_component(implib "${implib}" NAME)
  message(STATUS "import library: ${implib}")
endforeach()
EOF
  for case in "ON:Corvane.lib ZENTA.lib" "OFF:libCorvane.dll.a libZENTA.dll.a"; do
    chosen=$(cmake -S "$check/msvc-consumer" -B "$check/msvc-consumer-${case%%:*}" \
      -DAS_MSVC="${case%%:*}" -DCMAKE_PREFIX_PATH="$top" | sed -n 's/^-- import library: //p' | xargs)
    [[ $chosen == "${case#*:}" ]] || fail "with MSVC=${case%%:*} the CMake package gave $chosen"
  done
fi

echo "package check: ${#debs[@]} Debian packages (lintian: no error), the wheel and" \
  "$(wc -l <"$check/nupkg.txt") entries of the NuGet package"
