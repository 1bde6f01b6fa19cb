#!/usr/bin/env bash
# The one test command: installs what is missing, builds for Linux and for 32-bit Windows, checks
# the formatting and clang-tidy's findings (scripts/check-style.sh), runs
# every test (the Windows ones under Wine), uses the installed library from a scratch prefix,
# builds the library without the stand-in, runs the Linux tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer, and gives each fuzz target a bounded run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh

cmake --preset linux
cmake --build --preset linux
scripts/check-style.sh build/linux
ctest --preset linux
grep -h '^failure sweep:' build/linux/Testing/Temporary/LastTest.log
scripts/test-install.sh build/linux
scripts/test-python.sh build/linux
cmake --build --preset linux --target package
scripts/check-debian-packages.sh build/linux

cmake --preset library-only
cmake --build --preset library-only
scripts/check-library-only.sh

cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize

cmake --preset fuzz
cmake --build --preset fuzz
scripts/fuzz.sh

cmake --preset mingw-i686
cmake --build --preset mingw-i686
ctest --preset mingw-i686
cmake --build --preset mingw-i686 --target package
scripts/check-windows-zip.sh build/mingw-i686
