#!/usr/bin/env bash
# check-cxx-exports.sh <nm> <c++filt> <libCorvane.so> <corvane-cxx-exports.txt>
# Every row of the generated list (<mangled>|<signature>) names a function that the library
# exports, and its name demangles to the signature the row states; the library exports no other
# name of namespace Corvane. The Windows check reads the same list against Corvane.dll.
set -u
nm=$1 cxxfilt=$2 library=$3 list=$4
failures=0
exported=$("$nm" -D --defined-only "$library" | awk '{print $3}' | sort)
expected=()
while IFS='|' read -r mangled signature; do
  [[ -z $mangled || $mangled == \#* ]] && continue
  expected+=("$mangled")
  actual=$("$cxxfilt" "$mangled" |
    sed 's/std::__cxx11::basic_string<char, std::char_traits<char>, std::allocator<char> >/std::string/g')
  if [[ $actual != "$signature" ]]; then
    echo "FAIL: $mangled demangles to '$actual', not '$signature'"
    failures=$((failures + 1))
  fi
  if ! grep -qxF "$mangled" <<<"$exported"; then
    echo "FAIL: $library does not export $mangled ($signature)"
    failures=$((failures + 1))
  fi
done <"$list"
extra=$(comm -13 <(printf '%s\n' "${expected[@]}" | sort) <(grep '^_ZN7Corvane' <<<"$exported"))
if [[ -n $extra ]]; then
  echo "FAIL: $library exports C++ names the list does not hold: $extra"
  failures=$((failures + 1))
fi
((failures == 0)) || exit 1
echo "${#expected[@]} C++ exports as listed"
