#!/usr/bin/env bash
# The history's daily integrity check (SQLite's quick_check, which the recorder runs in a thread
# of its own at start and once a day) on 30 days of four channels at one reading per second
# (10 368 000 rows), through the recorder's layout.
#   bench/history-check.sh [WORK_DIR]
# Needs about 1 GB free in WORK_DIR (default: a fresh directory under /tmp, removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
work="${1:-$(mktemp -d /tmp/zentlog-history-check.XXXXXX)}"
[[ -n "${1:-}" ]] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
db="$work/history.sqlite"
seconds=$((30 * 86400))
[[ -s "$db" ]] || bench/make-history.sh "$db" 1796169600000 "$seconds"
echo "$(du -m "$db" | cut -f1) MB, $((seconds * 4)) readings"
sync
t0=$(date +%s.%N)
result=$(sqlite3 -readonly "$db" 'PRAGMA quick_check(1);')
echo "quick_check: $result in $(echo "$(date +%s.%N) - $t0" | bc) s"
