#!/usr/bin/env bash
# The house style, enforced: every C and C++ file of the tree as .clang-format has it, and
# clang-tidy (the root .clang-tidy, every finding an error) clean over the library, the stand-in
# and the command line, as compiled for the Linux build whose folder is given.
# scripts/check-style.sh [build/linux]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/linux}

# New files too, before they are added: a slip in one is found before it is committed.
formatted=$(git ls-files -z --cached --others --exclude-standard '*.c' '*.cpp' '*.h' |
  tr -cd '\0' | wc -c)
git ls-files -z --cached --others --exclude-standard '*.c' '*.cpp' '*.h' |
  xargs -0 clang-format-14 --dry-run --Werror
echo "check-style: $formatted files formatted as .clang-format has them"

# One clang-tidy per source file of those folders in the build's compile_commands.json, on
# every processor; run-clang-tidy fails when any file has a finding. It checks nothing, and
# passes, when no file matches (a build configured through another path to the same tree), so
# that is a failure here.
# The tree's path as it stands in a pattern: a folder such as "c++" or "(old)" matches itself.
tree=$(printf '%s' "$PWD" | sed 's/[][\\.*^$+?(){}|]/\\&/g')
sources="$tree/(client|server_admin|database_admin|exports|platform|sqlbase_standin|sqlbase_standin/speedups|cli|cli/plan)/[^/]*\.cpp"
# Each file once, as run-clang-tidy takes it, though several targets may compile it.
tidied=$({ grep -Eo "\"file\": \"$sources\"" "$build/compile_commands.json" || true; } |
  sort -u | wc -l)
if [ "$tidied" -eq 0 ]; then
  echo "check-style: $build/compile_commands.json names no source under $PWD" >&2
  exit 1
fi
# Only the findings: run-clang-tidy also prints each file's command line, and clang-tidy the
# count of warnings it did not show ("9779 warnings generated.": in system headers and others
# outside the header filter).
# The colour codes that open such a line stay, so that the next line is not left coloured.
run-clang-tidy-14 -p "$build" -j "$(nproc)" -quiet "$sources\$" 2>&1 | awk '{
  text = $0
  gsub(/\033\[[0-9;]*m/, "", text)
  if (text ~ /^[0-9]+ warnings? generated\.$/ || text ~ /^clang-tidy(-[0-9]+)? /) {
    match($0, /^(\033\[[0-9;]*m)*/)
    printf "%s", substr($0, 1, RLENGTH)
  } else {
    print
  }
  fflush()
}'
echo "check-style: clang-tidy found nothing in $tidied files"
