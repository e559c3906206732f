#!/usr/bin/env bash
# check-c-exports.sh <nm> <library> <list.def> [<library> <list.def> ...]
# Each shared library exports exactly the C names (every defined dynamic symbol that is not a
# C++-mangled _Z name) that its committed list names: CorvaneC.def (written from
# api/operations.toml), ZENTA.def and Ostrel.def (the Windows build links with the same lists).
# A name added or lost is a change of the binary interface (docs/packaging.md).
set -u
nm=$1
shift
failures=0
while (($# >= 2)); do
  library=$1 list=$2
  shift 2
  exported=$("$nm" -D --defined-only "$library" | awk '$2 != "A" && $3 !~ /^_Z/ {print $3}' | sort -u)
  listed=$(sed -n '/^EXPORTS/,$p' "$list" | sed '1d; s/^[[:space:]]*//; s/[[:space:];@].*//; /^$/d' | sort -u)
  missing=$(comm -13 <(printf '%s\n' "$exported") <(printf '%s\n' "$listed"))
  extra=$(comm -23 <(printf '%s\n' "$exported") <(printf '%s\n' "$listed"))
  if [[ -n $missing ]]; then
    echo "FAIL: $library does not export what $list lists: $(tr "\n" " " <<<"$missing")"
    failures=$((failures + 1))
  fi
  if [[ -n $extra ]]; then
    echo "FAIL: $library exports C names $list does not list: $(tr "\n" " " <<<"$extra")"
    failures=$((failures + 1))
  fi
  [[ -z $missing && -z $extra ]] && echo "$(basename "$library"): $(wc -l <<<"$listed") C exports as listed"
done
((failures == 0))
