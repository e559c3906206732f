#!/usr/bin/env bash
# run-pytest.sh <python> <library folder> <work folder> [<pytest argument>...]
#
# Installs the Python package as a user would, without network access, into a fresh virtual
# environment (which sees the system's pytest, setuptools and pip) and runs its tests with
# CORVANE_LIBRARY naming the libCorvane of the library folder. The package is copied first, so
# that pip's in-tree build leaves the source tree clean.
set -euo pipefail
python=$1
library=$2
work=$3
shift 3
source=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
mkdir -p "$work"
cp -r "$source/bindings/python" "$work/package"
"$python" -m venv --system-site-packages --without-pip "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-build-isolation --no-index --no-deps \
  --disable-pip-version-check "$work/package"
cd "$work"
export CORVANE_LIBRARY=$library/libCorvane.so
# Freed memory is overwritten, so that a text read after its block was released shows.
export MALLOC_PERTURB_=165
exec "$work/venv/bin/python" -m pytest -p no:cacheprovider -q "$source/tests/python" "$@"
