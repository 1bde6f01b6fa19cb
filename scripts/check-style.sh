#!/usr/bin/env bash
# The house style, enforced: every C and C++ file of the tree as .clang-format has it, and
# clang-tidy (the root .clang-tidy, every finding an error) clean over the library, the stand-in
# and the command line, as compiled for the Linux build whose folder is given.
# scripts/check-style.sh [build/linux]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}

# New files too, before they are added: a slip in one is found before it is committed.
git ls-files -z --cached --others --exclude-standard '*.c' '*.cpp' '*.h' |
  xargs -0 clang-format-14 --dry-run --Werror

# One clang-tidy per source file of those folders in the build's compile_commands.json, on
# every processor; run-clang-tidy fails when any file has a finding. It checks nothing, and
# passes, when no file matches (a build configured through another path to the same tree), so
# that is a failure here.
# The tree's path as it stands in a pattern: a folder such as "c++" or "(old)" matches itself.
tree=$(printf '%s' "$PWD" | sed 's/[][\\.*^$+?(){}|]/\\&/g')
sources="$tree/(client|server_admin|database_admin|exports|platform|sqlbase_standin|cli)/[^/]*\.cpp"
if ! grep -Eq "\"file\": \"$sources\"" "$build/compile_commands.json"; then
  echo "check-style: $build/compile_commands.json names no source under $PWD" >&2
  exit 1
fi
run-clang-tidy-14 -p "$build" -j "$(nproc)" -quiet "$sources\$"
