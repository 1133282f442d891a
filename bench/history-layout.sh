#!/usr/bin/env bash
# The compact layout against the one before it, on the same 30 days of four channels at one
# reading per second (10 368 000 readings, ending now): bytes per reading, trend open, export
# against the sqlite3 shell's CSV of `readings`, in the layout before (5) and after the
# conversion, which is timed too; the two exports must be the same bytes.
#   bench/history-layout.sh [BUILD_DIR] [WORK_DIR]
# Needs about 3 GB free in WORK_DIR (default: a fresh directory under /tmp, removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build/default}")"
tool="$build/tools/history/zentlog-history"
trend="$build/bench/zentlog-bench-trend"
work="${2:-$(mktemp -d /tmp/zentlog-layout-bench.XXXXXX)}"
[[ -n "${2:-}" ]] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
db="$work/history.sqlite"
seconds=$((30 * 86400))
start_ms=$((($(date +%s) - seconds) * 1000))
export TZ=UTC LC_ALL=C QT_QPA_PLATFORM=offscreen

timed() { # label, command... (its output to $work/out.txt)
  local label=$1; shift
  local t0; t0=$(date +%s.%N)
  "$@" > "$work/out.txt"
  printf '%-48s %7.1f s\n' "$label" "$(echo "$(date +%s.%N) - $t0" | bc)"
}
size() { # label
  sqlite3 "$db" 'PRAGMA wal_checkpoint(TRUNCATE);' > /dev/null
  local bytes; bytes=$(stat -c %s "$db")
  printf '%-48s %7.1f MB, %.1f bytes per reading, %.2f MB a day\n' "$1" "$(echo "$bytes / 1000000" | bc -l)" \
    "$(echo "$bytes / ($seconds * 4)" | bc -l)" "$(echo "$bytes / 30000000" | bc -l)"
}
layout() { # label
  size "$1: size"
  timed "$1: trend open (24 h and 30 days, cold)" "$trend" open "$work"
  grep -E '30 days|24 h' "$work/out.txt" | sed 's/^/    /'
  timed "$1: zentlog-history export --format csv" "$tool" export --format csv --output "$work/$1.csv" "$db"
  timed "$1: sqlite3 -csv on readings" sqlite3 -readonly -csv -header "$db" \
    "SELECT * FROM readings WHERE time_ms >= $start_ms ORDER BY time_ms, channel, id"
}

bench/make-history.sh "$db" "$start_ms" "$seconds" > /dev/null
sqlite3 "$db" "UPDATE readings SET outcome = CASE WHEN ok THEN 'value' ELSE 'no_reply' END;" 2> /dev/null ||
  sqlite3 "$db" "ALTER TABLE readings ADD COLUMN outcome TEXT;
                 UPDATE readings SET outcome = CASE WHEN ok THEN 'value' ELSE 'no_reply' END;"
"$trend" upgrade "$work" > /dev/null
sqlite3 "$db" 'PRAGMA journal_mode = WAL;' > /dev/null
layout before
timed "conversion (zentlog-history convert)" "$tool" convert "$db"
layout after
cmp "$work/before.csv" "$work/after.csv" && echo "the exports before and after are the same bytes"
