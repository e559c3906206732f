#!/usr/bin/env bash
# check-binary-interface.sh <objdump> <c++filt> <folder with the DLLs and EXEs> <CorvaneC.def>
#                           <folder with the import libraries> <llvm-nm> [<clang> <lld-link>]
#
# The binary interface of the Windows build, read from the PE files:
#   - Corvane.dll exports exactly the fourteen operations, three setters, LastServerMessage and
#     ErrorMessage of Corvane.h, under their MinGW (Itanium ABI) names, and each name demangles to the signature
#     the header declares, so a changed parameter type (const int& for int, long for long long)
#     shows; and the C names of CorvaneC.h, exactly as CorvaneC.def lists them;
#   - the MSVC-style import libraries Corvane.lib, ZENTA.lib and Ostrel.lib import those C names,
#     and (given clang and lld-link) a C program built for the MSVC target links against them and
#     imports its functions from Corvane.dll and ZENTA.dll;
#   - Ostrel.dll and ZENTA.dll export exactly their C functions under their plain names: no
#     C++-mangled name, nothing of std::, so no C++ object crosses between the gateway DLLs;
#   - each DLL carries a version resource (VERSIONINFO) with its file name and version;
#   - no DLL or EXE imports a MinGW runtime DLL: the runtime is linked into each of them;
#   - ZENTA.dll imports no WinHTTP function that carries a request.
set -u
if (($# != 6 && $# != 8)); then
  echo "usage: check-binary-interface.sh <objdump> <c++filt> <folder> <def> <lib folder> <llvm-nm>" \
    "[<clang> <lld-link>]" >&2
  exit 2
fi
objdump=$1
cxxfilt=$2
folder=$3
def=$4
libs=$5
nm=$6
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

exports() { "$objdump" -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p'; }
imports() { "$objdump" -p "$1" | sed -n 's/^\s*DLL Name: //p'; }
# c++filt spells std::string out in full; the table below uses the short name.
demangle() {
  "$cxxfilt" "$1" |
    sed 's/std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >/std::string/g'
}

# <mangled name>|<the signature it must demangle to>, written from api/operations.toml.
mapfile -t corvane < <(grep -v -e '^#' -e '^$' "$(dirname "$0")/corvane-cxx-exports.txt")
((${#corvane[@]} >= 19)) || fail "corvane-cxx-exports.txt lists ${#corvane[@]} C++ names"
# The C interface: the names of CorvaneC.def's EXPORTS section.
mapfile -t cnames < <(sed -n '/^EXPORTS/,$s/^ *\([a-z_]*\) *$/\1/p' "$def")
ostrel=(ZENTA_GeneralJsonRequest)
zenta=(ZENTA_CarryRequest ZENTA_CloseSession ZENTA_DropAnswer ZENTA_ErrorText ZENTA_HttpStatusOf
  ZENTA_KeepAnswer ZENTA_LastErrorDetail ZENTA_NoteFailure ZENTA_OpenSession
  ZENTA_OutstandingAnswerBuffers ZENTA_ReleaseDataBuffer
  ZENTA_SetTraceSink ZENTA_OpenScope ZENTA_CancelScope ZENTA_CloseScope ZENTA_SetProgressCallback)

for dll in Corvane.dll Ostrel.dll ZENTA.dll libquim.dll; do
  [[ -f $folder/$dll ]] || fail "$folder/$dll is missing"
done
((failures == 0)) || exit 1

# Corvane.dll: the table's names, the C names and nothing else.
((${#cnames[@]} >= 22)) || fail "$def lists ${#cnames[@]} C names"
expected=("${cnames[@]}")
for row in "${corvane[@]}"; do
  mangled=${row%%|*}
  signature=${row#*|}
  expected+=("$mangled")
  actual=$(demangle "$mangled")
  [[ $actual == "$signature" ]] || fail "$mangled demangles to '$actual', not '$signature'"
done
missing=$(comm -23 <(printf '%s\n' "${expected[@]}" | sort) <(exports "$folder/Corvane.dll" | sort))
extra=$(comm -13 <(printf '%s\n' "${expected[@]}" | sort) <(exports "$folder/Corvane.dll" | sort))
[[ -z $missing ]] || fail "Corvane.dll does not export: $missing"
[[ -z $extra ]] || fail "Corvane.dll exports more than Corvane.h declares: $extra"

# The gateway DLLs: their C functions, unmangled, and nothing else.
same_exports() { # <dll> <names...>
  local dll=$1
  shift
  local diff
  diff=$(diff <(printf '%s\n' "$@" | sort) <(exports "$folder/$dll" | sort))
  [[ -z $diff ]] || fail "$dll exports other names than its C functions: $diff"
}
same_exports Ostrel.dll "${ostrel[@]}"
same_exports ZENTA.dll "${zenta[@]}"

# ZENTA.dll carries requests with libcurl: no WinHTTP function that sends a request or reads an
# answer is imported (WinHTTP is used only to read the system's proxy settings).
carriers=$("$objdump" -p "$folder/ZENTA.dll" |
  grep -owE 'WinHttp(SendRequest|ReceiveResponse|ReadData)' | sort -u | tr "\n" " ")
[[ -z $carriers ]] || fail "ZENTA.dll imports $carriers"

# The MSVC-style import libraries: one __imp_ symbol per C function.
check_import_library() {  # <library> <name>...
  local library=$1 symbols
  shift
  symbols=$("$nm" "$library" 2>/dev/null) || { fail "$library is missing or unreadable"; return; }
  for name in "$@"; do
    grep -q " __imp_$name\$" <<<"$symbols" || fail "$(basename "$library") does not import $name"
  done
}
check_import_library "$libs/Corvane.lib" "${cnames[@]}"
check_import_library "$libs/ZENTA.lib" "${zenta[@]}"
check_import_library "$libs/Ostrel.lib" "${ostrel[@]}"

# A C caller of the MSVC target: compiled by clang for x86_64-pc-windows-msvc (freestanding: no
# MSVC headers here), linked by lld-link with the import libraries alone.
if (($# == 8)); then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cat >"$work/caller.c" <<'CALLER'
#include "CorvaneC.h"
#include "zenta/ZentaSdk.h"
int mainCRTStartup(void) {
  int handle = 0;
  corvane_ptz_trail* trails;
  int32_t count;
  int status = ZENTA_OpenSession("http://127.0.0.1:9", 0, &handle);
  if (status == 0) status = corvane_get_ptz_trail_list(handle, "D1001-C01", &trails, &count);
  corvane_free(trails);
  return status;
}
CALLER
  include=$(dirname "$def")
  if ! "$7" --target=x86_64-pc-windows-msvc -ffreestanding -I "$include/public" \
      -I "$include/../../../include" -c "$work/caller.c" -o "$work/caller.obj"; then
    fail "the C caller does not compile for the MSVC target"
  elif ! "$8" /nologo /nodefaultlib /entry:mainCRTStartup /subsystem:console \
      /out:"$work/caller.exe" "$work/caller.obj" "$libs/Corvane.lib" "$libs/ZENTA.lib"; then
    fail "lld-link cannot link the C caller with Corvane.lib and ZENTA.lib"
  else
    [[ $(imports "$work/caller.exe" | sort | tr "\n" " ") == "Corvane.dll ZENTA.dll " ]] ||
      fail "the C caller imports $(imports "$work/caller.exe" | tr "\n" " ")"
  fi
fi

# A version resource in each DLL: its file name and the project's version, as UTF-16 strings.
for dll in Corvane.dll Ostrel.dll ZENTA.dll libquim.dll; do
  texts=$(strings -el "$folder/$dll")
  grep -qx "OriginalFilename" <<<"$texts" && grep -qx "$dll" <<<"$texts" &&
    grep -qxE "[0-9]+\.[0-9]+\.[0-9]+" <<<"$texts" ||
    fail "$dll has no version resource naming it and its version"
done

# No MinGW runtime DLL anywhere.
shopt -s nullglob
for file in "$folder"/*.dll "$folder"/*.exe; do
  runtime=$(imports "$file" | grep -ix -e libstdc++-6.dll -e libgcc_s_seh-1.dll -e libwinpthread-1.dll | tr "\n" " ")
  [[ -z $runtime ]] || fail "$(basename "$file") imports $runtime"
done

if ((failures > 0)); then
  echo "$failures failure(s)"
  exit 1
fi
echo "binary interface as expected: ${#corvane[@]} C++ and ${#cnames[@]} C exports of Corvane.dll," \
  "gateway C exports, MSVC import libraries, no runtime DLL imports"
