#!/bin/sh
# The history's cost: a day of four channels recorded into a fresh file on the build's disk, the
# writes grouped as the [history] setting groups them (default 10 s; 0: a commit per cycle).
#   bench/history.sh [BUILD_DIR] [WRITE_INTERVAL_SECONDS]
set -eu
build=${1:-build/default}
dir=$(mktemp -d "${TMPDIR:-/tmp}/zentlog-history-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$build/bench/zentlog-bench-record" "$dir" 86400 "${2:-10}"
