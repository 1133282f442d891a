#!/usr/bin/env bash
# The trend window on 30 days of four channels at one reading per second (10 368 000 rows,
# ending now): time to open the 24-hour and the 30-day range, peak memory, and the share of a
# core on the live last hour while a second process appends four readings a second.
#   bench/trend.sh [BUILD_DIR] [WORK_DIR]
# Needs about 2 GB free in WORK_DIR (default: a fresh directory under /tmp, removed at the end).
# LIVE_SECONDS (default 120) sets the live run.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build/default}")"
bench="$build/bench/zentlog-bench-trend"
[[ -x "$bench" ]] || { echo "trend.sh: build zentlog-bench-trend first ($bench)" >&2; exit 2; }
work="${2:-$(mktemp -d /tmp/zentlog-trend-bench.XXXXXX)}"
[[ -n "${2:-}" ]] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
db="$work/history.sqlite"
live_seconds="${LIVE_SECONDS:-120}"
export QT_QPA_PLATFORM=offscreen

seconds=$((30 * 86400))
if [[ ! -s "$db" ]]; then
  now_ms=$(($(date +%s) * 1000))
  start_ms=$((now_ms - seconds * 1000))
  echo "Generating $((seconds * 4)) readings into $db ..."
  t0=$(date +%s.%N)
  bench/make-history.sh "$db" "$start_ms" "$seconds"
  sqlite3 "$db" 'PRAGMA journal_mode = WAL;' >/dev/null
  t1=$(date +%s.%N)
  printf 'Generated in %.1f s, %s MB\n' "$(echo "$t1 - $t0" | bc)" "$(($(stat -c %s "$db") / 1048576))"
fi

echo "--- the file brought to the program's layout (its minutes summed up once, as the recorder does)"
"$bench" upgrade "$work"
echo "--- opening ranges (cold start includes the first read of the file)"
"$bench" open "$work"
echo "--- opening ranges again (file in the page cache)"
"$bench" open "$work"

echo "--- live last hour for $live_seconds s, with a recorder appending 4 readings a second"
"$bench" append "$work" "$((live_seconds + 5))" &
appender=$!
"$bench" live "$work" "$live_seconds"
wait "$appender"
