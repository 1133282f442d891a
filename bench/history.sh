#!/bin/sh
# The history's cost: a day of four channels recorded into a fresh file on the build's disk.
#   bench/history.sh [BUILD_DIR]
set -eu
build=${1:-build/default}
dir=$(mktemp -d "${TMPDIR:-/tmp}/zentlog-history-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$build/bench/zentlog-bench-record" "$dir" 86400
sqlite3 "$dir/history.sqlite" 'PRAGMA wal_checkpoint(TRUNCATE);' >/dev/null
printf 'after a checkpoint: %s bytes\n' "$(stat -c %s "$dir/history.sqlite")"
