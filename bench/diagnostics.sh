#!/bin/sh
# The line diagnostics' cost per exchange: the counters alone (trace off) against the counters
# and the frame trace (trace on), the trace written into a fresh folder on the build's disk.
#   bench/diagnostics.sh [BUILD_DIR] [EXCHANGES] [RUNS]
set -eu
build=${1:-build/default}
exchanges=${2:-200000}
runs=${3:-3}
dir=$(mktemp -d "${TMPDIR:-/tmp}/zentlog-diagnostics-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
run=1
while [ "$run" -le "$runs" ]; do
    rm -f "$dir"/trace-*.log
    printf 'run %s\n' "$run"
    "$build/bench/zentlog-bench-diagnostics" "$dir" "$exchanges"
    run=$((run + 1))
done
