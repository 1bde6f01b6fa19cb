#!/usr/bin/env bash
# A bounded run of every fuzz target from its seed corpus in fuzz/corpus; new inputs go to a
# scratch copy, never into the repository. Seconds per target: QUILLET_FUZZ_SECONDS (45).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${QUILLET_FUZZ_SECONDS:-45}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for target in build/fuzz/fuzz/*_fuzzer; do
  name="$(basename "$target" _fuzzer)"
  mkdir -p "$work/$name"
  cp fuzz/corpus/"$name"/* "$work/$name/"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    "$work/$name" >"$work/$name.log" 2>&1 || { tail -50 "$work/$name.log"; exit 1; }
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$name.log")"
  echo "fuzz $name: $runs executions in ${seconds}s, no finding"
done
