#!/usr/bin/env bash
# The house style, enforced: every C and C++ file of the tree as .clang-format has it, and
# clang-tidy (the root .clang-tidy, every finding an error) clean over the library, the stand-in
# and the command line, as compiled for the Linux build whose folder is given.
# scripts/check-style.sh [build/linux]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}

git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format-14 --dry-run --Werror

# One clang-tidy per source file of those folders in the build's compile_commands.json, on
# every processor; run-clang-tidy fails when any file has a finding.
run-clang-tidy-14 -p "$build" -j "$(nproc)" -quiet \
  "$PWD/(client|server_admin|database_admin|exports|win32_file_standin|sqlbase_standin|cli)/[^/]*\.cpp\$"
