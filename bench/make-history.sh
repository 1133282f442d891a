#!/usr/bin/env bash
# Fills a new "history.sqlite" with readings of four channels at one reading per second, in the
# program's first layout (src/history/HistorySchema.h; the program brings it up to date), in one
# transaction; the index comes after the rows, as a long recording would have it in the end.
# Channel 3 fails one reading in 997, channel 2 is a flow station with its totals; the texts are
# made from the numbers as the panels make them.
#   bench/make-history.sh FILE START_MS SECONDS
set -euo pipefail
db=$1 start_ms=$2 seconds=$3
sqlite3 "$db" <<SQL
PRAGMA journal_mode = OFF;
PRAGMA synchronous = OFF;
CREATE TABLE readings ( id INTEGER PRIMARY KEY, time_ms INTEGER NOT NULL, channel INTEGER NOT NULL,
  tag TEXT NOT NULL, type TEXT NOT NULL, ok INTEGER NOT NULL, value REAL, unit TEXT, temperature REAL,
  value2 REAL, unit2 TEXT, total_day REAL, total REAL, text TEXT NOT NULL);
BEGIN;
WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < $seconds - 1),
-- The numbers as a panel shows them (rounded to its decimals), and whether the reading failed.
r AS (SELECT i, c, c = 3 AND i % 997 = 0 AS failed,
  CAST(printf(CASE c WHEN 0 THEN '%.2f' WHEN 1 THEN '%.2f' ELSE '%.1f' END,
    CASE c WHEN 0 THEN 7 + (i % 200) / 100.0 WHEN 1 THEN 8.5 - (i % 300) / 100.0
           WHEN 2 THEN 120 + (i % 4000) / 10.0 ELSE 12.5 + (i % 50) / 10.0 END) AS REAL) AS v,
  CAST(printf('%.1f', 14.5 + (i % 80) / 10.0) AS REAL) AS t,
  (i % 86400) / 30 AS day, 250000 + i / 30 AS total
  FROM s, (SELECT 0 AS c UNION ALL SELECT 1 UNION ALL SELECT 2 UNION ALL SELECT 3))
INSERT INTO readings (time_ms, channel, tag, type, ok, value, unit, temperature, value2, unit2, total_day, total, text)
SELECT $start_ms + i * 1000 + c * 40, c,
  CASE c WHEN 0 THEN 'PH INLET' WHEN 1 THEN 'O2 BASIN' WHEN 2 THEN 'FLOW OUT' ELSE 'TEMP' END,
  CASE c WHEN 0 THEN 'pH' WHEN 1 THEN 'Oxygen' WHEN 2 THEN 'Flow' ELSE 'Temperature' END,
  NOT failed,
  CASE WHEN NOT failed THEN v END,
  CASE WHEN failed THEN NULL WHEN c = 0 THEN 'pH' WHEN c = 1 THEN 'mg/l' WHEN c = 2 THEN 'm3/h' ELSE '°C' END,
  CASE WHEN c IN (0, 1, 2) THEN t END,
  NULL, NULL,
  CASE WHEN c = 2 THEN day END,
  CASE WHEN c = 2 THEN total END,
  CASE WHEN failed THEN 'Out of order'
       WHEN c = 0 THEN printf('%.2f pH     %.1f  °C', v, t)
       WHEN c = 1 THEN printf('    %.2f  mg/l   %.1f  °C', v, t)
       WHEN c = 2 THEN printf('  %.1f  m3/h    %.1f  °C' || char(13, 10) || ' %d   m3  ' || char(13, 10) || ' %d   m3  ',
                              v, t, day, total)
       ELSE printf('%.1f °C', v) END
FROM r ORDER BY i, c;
COMMIT;
CREATE INDEX readings_channel_time ON readings (channel, time_ms);
PRAGMA user_version = 1;
SQL
