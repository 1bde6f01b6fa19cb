#!/usr/bin/env bash
# The one test command: installs what is missing, builds for Linux and for 32-bit Windows, checks
# the formatting and clang-tidy's findings (scripts/check-style.sh), runs
# every test (the Windows ones under Wine), uses the installed library from a scratch prefix,
# builds the library without the stand-in, runs the Linux tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer, and gives each fuzz target a bounded run.
#
# Each step starts with a heading; the first step that fails ends the run with its status. The
# end sums it up: the time and the counts (tests, failure sweep sequences, fuzz executions,
# programs under Wine), then "tests: N passed, N failed" alone on the last line, which CI reads:
# the ctest entries of every run, the Python tests and the Ansible integration targets. A failed step that counts no failed test
# of its own counts as one, so that a failed run never reads as a clean one.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$SECONDS
logs=$(mktemp -d "${TMPDIR:-/tmp}/quillet-test.XXXXXX")
steps=16
step=0
title=""

# Prints a step's heading: its number, what it does and the time so far.
begin() {
  step=$((step + 1))
  title=$1
  printf '\n==> [%d/%d] %s (at %s)\n' "$step" "$steps" "$title" "$(duration)"
}
duration() {
  local seconds=$((SECONDS - started))
  printf '%d min %02d s' $((seconds / 60)) $((seconds % 60))
}
# Keeps what a step prints for the summary while showing it.
kept() { tee "$logs/$1"; }

# The number before WORDS in the last line of kept log FILE that has one ("412 passed"); 0 when
# there is none.
number() {
  local file=$logs/$1 words=$2
  [ -f "$file" ] || { echo 0; return; }
  { grep -oE "[0-9]+ ($words)" "$file" || true; } | awk '{ n = $1 } END { print n + 0 }'
}
# ctest's closing figures, as "passed failed".
ctest_figures() {
  local total
  total=$(sed -nE 's/^[0-9]+% tests passed, [0-9]+ tests? failed out of ([0-9]+)$/\1/p' \
    "$logs/$1" 2>/dev/null | tail -1)
  [ -n "$total" ] || { echo "0 0"; return; }
  local failed_here
  failed_here=$(number "$1" "tests? failed")
  echo "$((total - failed_here)) $failed_here"
}

# What the kept logs tell: the closing line, then the line CI reads.
summary() {
  local status=$1 ctest_passed=0 failed=0 run run_passed run_failed
  for run in ctest-linux ctest-sanitize ctest-mingw; do
    read -r run_passed run_failed <<<"$(ctest_figures "$run")"
    ctest_passed=$((ctest_passed + run_passed))
    failed=$((failed + run_failed))
  done
  local pytest_passed
  pytest_passed=$(number python passed)
  failed=$((failed + $(number python failed) + $(number python "errors?")))
  # Each Ansible integration target is one test; a failed one fails its step, counted below.
  local ansible_passed
  ansible_passed=$(number ansible "integration targets passed")
  [ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
  local fuzz wine
  fuzz=$(sed -nE 's/^fuzz [^ ]+: ([0-9]+) executions.*/\1/p' "$logs/fuzz" 2>/dev/null |
    awk '{ n += $1 } END { print n + 0 }')
  # ctest's label summary: "wine    =   9.39 sec*proc (3 tests)".
  wine=$(sed -nE 's/^wine +=.*\(([0-9]+) tests?\)$/\1/p' "$logs/ctest-mingw" 2>/dev/null)
  local passed=$((ctest_passed + pytest_passed + ansible_passed))
  local figures="$passed tests passed (ctest $ctest_passed, pytest $pytest_passed"
  figures+=", Ansible targets $ansible_passed)"
  figures+=", $(number sweep "failure sequences") failure sweep sequences"
  figures+=", $fuzz fuzz executions, ${wine:-0} programs under Wine"
  echo
  if [ "$status" -eq 0 ]; then
    echo "==> Done: all $steps steps passed in $(duration): $figures"
  else
    echo "==> FAILED: step $step/$steps, $title, with exit status $status after $(duration)."
    echo "    So far $figures"
  fi
  echo "tests: $passed passed, $failed failed"
}
finish() {
  local status=$?
  set +e
  summary "$status"
  rm -rf "$logs"
  exit "$status"
}
trap finish EXIT

begin "Packages: install what is missing (scripts/install-dependencies.sh)"
scripts/install-dependencies.sh

begin "Linux: configure and build (preset linux)"
cmake --preset linux
cmake --build --preset linux

begin "Style: clang-format and clang-tidy (scripts/check-style.sh)"
scripts/check-style.sh build/linux

begin "Linux: the tests (ctest --preset linux)"
ctest --preset linux | kept ctest-linux
grep -h '^failure sweep:' build/linux/Testing/Temporary/LastTest.log | kept sweep

begin "Linux: the installed library from a scratch prefix (scripts/test-install.sh)"
scripts/test-install.sh build/linux

begin "Python: the package in a fresh virtual environment (scripts/test-python.sh)"
scripts/test-python.sh build/linux | kept python

begin "Ansible: the collection quillet.admin, built and installed offline (scripts/test-ansible.sh)"
scripts/test-ansible.sh build/linux | kept ansible

begin "Linux: the Debian packages (package, scripts/check-debian-packages.sh)"
cmake --build --preset linux --target package
scripts/check-debian-packages.sh build/linux

begin "Linux: the library without the stand-in (preset library-only)"
cmake --preset library-only
cmake --build --preset library-only
scripts/check-library-only.sh

begin "Sanitizers: configure and build (preset sanitize)"
cmake --preset sanitize
cmake --build --preset sanitize

begin "Sanitizers: the tests (ctest --preset sanitize)"
ctest --preset sanitize | kept ctest-sanitize

begin "Fuzz: configure and build (preset fuzz)"
cmake --preset fuzz
cmake --build --preset fuzz

begin "Fuzz: a bounded run of each target (scripts/fuzz.sh)"
scripts/fuzz.sh | kept fuzz

begin "Windows: cross-build Quillet.dll and its tests (preset mingw-i686)"
cmake --preset mingw-i686
cmake --build --preset mingw-i686

begin "Windows: the tests, under Wine (ctest --preset mingw-i686)"
ctest --preset mingw-i686 | kept ctest-mingw

begin "Windows: the ZIP as a user unpacks it (package, scripts/check-windows-zip.sh)"
cmake --build --preset mingw-i686 --target package
scripts/check-windows-zip.sh build/mingw-i686
