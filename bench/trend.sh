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
  # The program's own layout (src/history/HistorySchema.h) in one transaction; the index comes
  # after the rows, as a long recording would have it in the end. Channel 3 fails one reading in
  # 997, channel 2 is a flow station with its totals.
  sqlite3 "$db" <<SQL
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE readings ( id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, channel INTEGER NOT NULL,
  tag TEXT NOT NULL, type TEXT NOT NULL, ok INTEGER NOT NULL, value REAL, unit TEXT, temperature REAL,
  value2 REAL, unit2 TEXT, total_day REAL, total REAL, text TEXT NOT NULL);
BEGIN;
WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < $seconds - 1)
INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, value2, unit2, total_day, total, text)
SELECT $start_ms + i * 1000 + c * 40, c,
  CASE c WHEN 0 THEN 'PH INLET' WHEN 1 THEN 'O2 BASIN' WHEN 2 THEN 'FLOW OUT' ELSE 'TEMP' END,
  CASE c WHEN 0 THEN 'pH' WHEN 1 THEN 'Oxygen' WHEN 2 THEN 'Flow' ELSE 'Temperature' END,
  CASE WHEN c = 3 AND i % 997 = 0 THEN 0 ELSE 1 END,
  CASE WHEN c = 3 AND i % 997 = 0 THEN NULL
       WHEN c = 0 THEN 7 + (i % 200) / 100.0 WHEN c = 1 THEN 8.5 - (i % 300) / 100.0
       WHEN c = 2 THEN 120 + (i % 4000) / 10.0 ELSE 12.5 + (i % 50) / 10.0 END,
  CASE WHEN c = 3 AND i % 997 = 0 THEN NULL WHEN c = 0 THEN 'pH' WHEN c = 1 THEN 'mg/l' WHEN c = 2 THEN 'm³/h' ELSE '°C' END,
  CASE WHEN c IN (0, 1) THEN 14.5 + (i % 80) / 10.0 END,
  CASE WHEN c = 1 THEN 90 + (i % 100) / 10.0 END,
  CASE WHEN c = 1 THEN '%' END,
  CASE WHEN c = 2 THEN (i % 86400) * 0.035 END,
  CASE WHEN c = 2 THEN 250000 + i * 0.035 END,
  'value as shown'
FROM s, (SELECT 0 AS c UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3);
COMMIT;
CREATE INDEX readings_channel_time ON readings (channel, time_ms);
PRAGMA user_version = 1;
PRAGMA journal_mode = WAL;
SQL
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
