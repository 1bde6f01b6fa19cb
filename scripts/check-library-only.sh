#!/usr/bin/env bash
# The build for machines with the real client library: no stand-in and no SQLite anywhere,
# and an install that brings no libsqlwntm.so of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/library-only
fail() { echo "check-library-only: $*" >&2; exit 1; }

if grep -q "^SQLite3" "$build/CMakeCache.txt"; then fail "the build looked for SQLite"; fi
if readelf -d "$build/libquillet.so" "$build/cli/quillet" | grep -qi sqlite; then
  fail "a program links SQLite"
fi
readelf -d "$build/libquillet.so" | grep -q 'NEEDED.*\[libsqlwntm.so\]' ||
  fail "libquillet.so does not name the client library"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/quillet-library-only.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
[ -e "$prefix/lib/libquillet.so.1" ] || fail "libquillet.so.1 was not installed"
if [ -e "$prefix/lib/libsqlwntm.so" ]; then fail "the link stub was installed"; fi
echo "check-library-only: built and installed without SQLite or the stand-in"
