#!/usr/bin/env bash
# Builds the optimized library with the benchmarks and runs them: ExportCSV against plain stdio,
# ListConnections, and ExportCSV through the stand-in server against sqlite3 -csv. Files go to a
# scratch folder under the directory given (default: $TMPDIR, else /tmp) and are removed after.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-dependencies.sh

cmake --preset bench >/dev/null
cmake --build --preset bench

echo "Machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
build/bench/benchmarks/export_benchmark "$@"
build/bench/benchmarks/end_to_end_benchmark "$@"
