#!/usr/bin/env bash
# The Python package as a host installs it: offline into a fresh virtual environment of
# Debian's Python, then its tests against the stand-in server, using the library and the
# program installed into a scratch prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillet-python.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null

# Debian's interpreter: an earlier python3 on PATH may lack Debian's setuptools and pytest.
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
"$scratch/venv/bin/python" -m pip install --quiet --no-index --no-build-isolation \
  --disable-pip-version-check ./python
# The package's build leaves its work files in the source folder.
rm -rf python/build python/quillet.egg-info

export QUILLET_LIBRARY=$scratch/prefix/lib/libquillet.so.1
export QUILLET_PROGRAM=$scratch/prefix/bin/quillet
# From outside the source folder, so that the installed package is the one imported.
status=0
(cd "$scratch" && "$scratch/venv/bin/python" -m pytest -p no:cacheprovider -q -rs \
  "$OLDPWD/python/tests") || status=$?
# 5 is "no tests collected", which must not pass either.
if [ "$status" -ne 0 ]; then
  echo "test-python: pytest failed with exit status $status" >&2
  exit 1
fi
