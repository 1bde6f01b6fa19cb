#!/usr/bin/env bash
# Checks the Windows ZIP as a user unpacks it: its files; Quillet.dll stripped, its debug
# information beside it, its export and import tables unchanged; both files' version
# resources; quillet.exe free of any import of Quillet.dll, answering --help and --version
# under Wine without SQLWNTM.dll, and naming the DLL it misses.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/mingw-i686}
objdump=i686-w64-mingw32-objdump
fail() { echo "check-windows-zip: $*" >&2; exit 1; }

zip=$(ls "$build"/packages/Quillet-*-win32.zip)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/quillet-zip.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
(cd "$scratch" && cmake -E tar xf "$OLDPWD/$zip")
top=$(echo "$scratch"/Quillet-*-win32)
for file in README.md include/quillet.h include/quillet_result_text.h lib/Quillet.dll.a \
  lib/quillet.def lib/cmake/Quillet/QuilletConfig.cmake bin/Quillet.dll bin/Quillet.dll.debug \
  bin/quillet.exe; do
  [ -f "$top/$file" ] || fail "$file is missing"
done
if find "$top" -iname 'sqlwntm*' | grep -q .; then fail "the ZIP holds a client library"; fi

for file in Quillet.dll quillet.exe; do
  sections=$($objdump -h "$top/bin/$file")
  if grep -q '\.debug_' <<<"$sections"; then fail "$file keeps debug sections"; fi
  grep -q '\.gnu_debuglink' <<<"$sections" || fail "$file does not name its debug file"
  $objdump -h "$top/bin/$file.debug" | grep -q '\.debug_info' ||
    fail "$file.debug holds no debug information"
  for text in "ProductName" "Quillet" "FileVersion" "$(sed -n \
    's/^project(Quillet VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" "LegalCopyright"; do
    strings -el "$top/bin/$file" | grep -qxF "$text" || fail "$file's version resource lacks $text"
  done
done

cmake -DOBJDUMP=$objdump -DMODULE="$top/bin/Quillet.dll" -DEXPORT_LIST="$top/lib/quillet.def" \
  -DENTRY_POINTS=client/sqlwntm.h \
  -DSOURCE_DIRS=client,server_admin,database_admin,exports -DALLOWED_DLLS=KERNEL32.dll,msvcrt.dll \
  -P tests/windows/check_pe_tables.cmake
if $objdump -p "$top/bin/quillet.exe" | grep -i 'DLL Name: *quillet.dll'; then
  fail "quillet.exe imports Quillet.dll at start"
fi

# Under Wine with no DLL search path of the build: only what the ZIP holds.
wine_run() {
  (cd "$top/bin" && tests_wine=$OLDPWD/tests/windows/run_under_wine.sh &&
    QUILLET_PASSWORD=secret "$tests_wine" "$OLDPWD/$build/wine-prefix" "" ./quillet.exe "$@")
}
help=$(wine_run --help) || fail "quillet.exe --help failed without SQLWNTM.dll"
grep -q 'through Quillet.dll' <<<"$help" || fail "--help does not name Quillet.dll"
if grep -q 'server create' <<<"$help"; then fail "--help offers the stand-in's subcommands"; fi
[ "$(wine_run --version | tr -d '\r' | head -n 1)" = "quillet $(sed -n \
  's/^project(Quillet VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ] ||
  fail "quillet.exe --version is wrong"
if message=$(wine_run dir-db SRV 2>&1); then fail "a job ran without SQLWNTM.dll"; fi
grep -q 'Quillet.dll could not be loaded.*SQLWNTM.dll' <<<"$message" ||
  fail "the missing SQLWNTM.dll is not named: $message"
mv "$top/bin/Quillet.dll" "$scratch/moved.dll"
if message=$(wine_run dir-db SRV 2>&1); then fail "a job ran without Quillet.dll"; fi
grep -q 'Quillet.dll was not found. Windows looks for it in the folder of quillet.exe' \
  <<<"$message" || fail "the missing Quillet.dll is not named: $message"
echo "check-windows-zip: $(basename "$zip") holds what a host needs and works as unpacked"
