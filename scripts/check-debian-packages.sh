#!/usr/bin/env bash
# Checks the Debian packages that cpack made: the three packages and their files, that apt
# can install them together on this machine (simulated: nothing is installed), and that the
# unpacked files work as installed, the program finding its libraries relative to itself.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=${1:-build/linux}/packages
fail() { echo "check-debian-packages: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Quillet VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
declare -A holds=(
  [libquillet]="./usr/lib/libquillet.so.1 ./usr/include/quillet.h ./usr/lib/pkgconfig/quillet.pc ./usr/lib/cmake/Quillet/QuilletConfig.cmake"
  [quillet]="./usr/bin/quillet ./usr/share/man/man1/quillet.1 ./usr/share/bash-completion/completions/quillet"
  [quillet-standin]="./usr/lib/libsqlwntm.so"
)
files=()
for package in "${!holds[@]}"; do
  file=$packages/${package}_${version}_${arch}.deb
  [ -f "$file" ] || fail "$file was not made"
  files+=("./$file")
  contents=$(dpkg-deb -c "$file" | awk '{ print $6 }')
  for wanted in ${holds[$package]}; do
    grep -qxF "$wanted" <<<"$contents" || fail "$package lacks $wanted"
  done
done
if dpkg-deb -c "$packages/libquillet_${version}_${arch}.deb" | grep -q sqlwntm; then
  fail "libquillet carries a client library"
fi

apt-get install --simulate "${files[@]}" >/dev/null || fail "apt cannot install the packages"

root=$(mktemp -d "${TMPDIR:-/tmp}/quillet-deb.XXXXXX")
trap 'rm -rf "$root"' EXIT
for file in "${files[@]}"; do dpkg-deb -x "$file" "$root"; done
export QUILLET_STANDIN_ROOT=$root/servers QUILLET_PASSWORD=secret
"$root/usr/bin/quillet" server create DEBSRV
"$root/usr/bin/quillet" create-db DEBSRV STOCK
[ "$("$root/usr/bin/quillet" dir-db DEBSRV)" = STOCK ] || fail "the unpacked quillet did not work"
echo "check-debian-packages: ${!holds[*]} $version made and usable"
