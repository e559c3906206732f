#!/usr/bin/env bash
# Builds the Python wheel that carries the native libraries: the package with libCorvane.so.0,
# libZENTA.so.0, libOstrel.so.0 and libcorvane-quim.so.0 beside its modules (installed copies,
# whose run path $ORIGIN finds each other), so that `import corvane` needs no CORVANE_LIBRARY. Offline:
# setuptools and wheel from the system (python3-setuptools, python3-wheel), no build isolation.
# The wheel is tagged for this platform (py3-none-linux_<machine>): it holds native code and
# needs the system's libcurl.
#   bindings/python/build-wheel.sh BUILD-DIR OUTPUT-DIR
set -euo pipefail
# An interpreter with setuptools and wheel: $PYTHON, else the first python3 on the path that has
# them, else the system's (a pyenv or venv python3 may lack wheel: "invalid command 'bdist_wheel'").
python=
for candidate in ${PYTHON:-} python3 /usr/bin/python3; do
  if "$candidate" -c 'import setuptools, wheel' 2>/dev/null; then python=$candidate; break; fi
done
[[ -n $python ]] || { echo "build-wheel: no python3 with setuptools and wheel" \
  "(Debian: python3-setuptools python3-wheel)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
stage=$build/wheel-stage
rm -rf "$stage"
mkdir -p "$stage"
cp -r "$here/pyproject.toml" "$here/README.md" "$here/corvane" "$stage/"
find "$stage/corvane" -name '__pycache__' -prune -exec rm -rf {} +
cmake --install "$build" --component runtime --prefix "$stage/prefix" >/dev/null
for library in Corvane ZENTA Ostrel corvane-quim; do
  cp -L "$(find "$stage/prefix" -name "lib$library.so.0" | head -n 1)" "$stage/corvane/"
  strip --strip-unneeded "$stage/corvane/lib$library.so.0"
done
printf '[bdist_wheel]\npython_tag = py3\nplat_name = linux_%s\n' "$(uname -m)" >"$stage/setup.cfg"
rm -f "$out"/corvane-*.whl
(cd "$stage" && "$python" -m pip wheel --no-build-isolation --no-deps --no-index -q -w "$out" .)
ls "$out"/corvane-*.whl
