#!/usr/bin/env bash
# The one test command: installs what is missing, builds for Linux and for 32-bit Windows, and
# runs every test, the Windows ones under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh

cmake --preset linux
cmake --build --preset linux
ctest --preset linux

cmake --preset mingw-i686
cmake --build --preset mingw-i686
ctest --preset mingw-i686
