#!/usr/bin/env bash
# Installs the Linux build into a scratch prefix and uses it from there alone, as a host
# developer does: a C host built with find_package(Quillet) and one built with pkg-config, no
# run path flags; both run against a stand-in server. Checks the installed files' dynamic
# sections: soname libquillet.so.1, relative run paths only.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillet-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
fail() { echo "test-install: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for file in lib/libquillet.so.1.0.0 lib/libquillet.so.1 lib/libquillet.so lib/libsqlwntm.so \
  include/quillet.h include/quillet_result_text.h lib/pkgconfig/quillet.pc \
  lib/cmake/Quillet/QuilletConfig.cmake lib/cmake/Quillet/QuilletConfigVersion.cmake \
  bin/quillet share/man/man1/quillet.1 share/bash-completion/completions/quillet; do
  [ -e "$prefix/$file" ] || fail "$file was not installed"
done

dynamic() { readelf -d "$1" | sed -n "s/.*($2) *.*: \[\(.*\)\]/\1/p"; }
[ "$(dynamic "$prefix/lib/libquillet.so.1" SONAME)" = libquillet.so.1 ] ||
  fail "the soname is not libquillet.so.1"
[ "$(dynamic "$prefix/lib/libquillet.so.1" RUNPATH)" = '$ORIGIN' ] ||
  fail "libquillet.so.1's run path is not \$ORIGIN"
[ "$(dynamic "$prefix/bin/quillet" RUNPATH)" = '$ORIGIN/../lib' ] ||
  fail "quillet's run path is not \$ORIGIN/../lib"
for file in "$prefix"/lib/*.so* "$prefix/bin/quillet"; do
  if readelf -d "$file" | grep -E '\((RPATH|RUNPATH)\)' | grep -q "$PWD"; then
    fail "$file has a run path into the build tree"
  fi
done

# The stand-in server the hosts work on, made by the installed program.
export QUILLET_STANDIN_ROOT=$scratch/servers
(umask 077 && printf 'secret\n' >"$scratch/password")
"$prefix/bin/quillet" --version
"$prefix/bin/quillet" server create HOSTSRV --password-file "$scratch/password"

check_host() {
  local output
  output=$("$@") || fail "the host $1 failed"
  printf '%s\n' "$output"
  grep -qx 'databases: STOCK;' <<<"$output" || fail "the host $1 did not list STOCK"
  grep -qx 'export: -1 (the output file could not be opened)' <<<"$output" ||
    fail "the host $1 did not show the result text"
}

# find_package, from the prefix alone: CMake runs the host from its build tree.
cmake -S tests/install -B "$scratch/cmake-host" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$scratch/cmake-host" >/dev/null
check_host "$scratch/cmake-host/host" HOSTSRV secret
"$prefix/bin/quillet" drop-db HOSTSRV STOCK --password-file "$scratch/password"

# pkg-config and a plain compiler line; the loader finds an uncommon prefix through
# LD_LIBRARY_PATH, as for any library installed there.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion quillet)" = 1.0.0 ] || fail "pkg-config does not find quillet 1.0.0"
# shellcheck disable=SC2046 # the flags are words
cc -std=c89 -Wall -Wextra -pedantic -Werror tests/install/host.c -o "$scratch/pkg-config-host" \
  $(pkg-config --cflags --libs quillet)
# The headers in C++ under strict warnings too.
# shellcheck disable=SC2046 # the flags are words
printf '#include "quillet_result_text.h"\nint main() { return quillet_result_text(1) != nullptr; }\n' |
  c++ -x c++ -std=c++11 -Wall -Wextra -pedantic -Werror -Wzero-as-null-pointer-constant \
    -Wold-style-cast $(pkg-config --cflags quillet) -fsyntax-only - ||
  fail "the headers do not compile as strict C++"
readelf -d "$scratch/pkg-config-host" | grep -qE '\((RPATH|RUNPATH)\)' &&
  fail "the pkg-config host got a run path"
LD_LIBRARY_PATH=$prefix/lib check_host "$scratch/pkg-config-host" HOSTSRV secret

# The manual page and the completion name every subcommand that --help names.
for name in $("$prefix/bin/quillet" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p'); do
  grep -q "^\.SS $name\$" "$prefix/share/man/man1/quillet.1" || fail "quillet.1 lacks $name"
done
echo "test-install: the installed library, headers, pkg-config file and CMake package work"
