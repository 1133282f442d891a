#!/usr/bin/env bash
# Export of 30 days of four channels at one reading per second (10 368 000 rows) to CSV with
# zentlog-history, against the sqlite3 shell's own CSV output of the same rows in the same order.
#   bench/history-export.sh [BUILD_DIR] [WORK_DIR]
# Needs about 2 GB free in WORK_DIR (default: a fresh directory under /tmp, removed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(realpath "${1:-build/default}")"
tool="$build/tools/history/zentlog-history"
[[ -x "$tool" ]] || { echo "history-export.sh: build zentlog-history first ($tool)" >&2; exit 2; }
work="${2:-$(mktemp -d /tmp/zentlog-history-bench.XXXXXX)}"
[[ -n "${2:-}" ]] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
db="$work/history.sqlite"

days=30
seconds=$((days * 86400))
start_ms=1796169600000 # 2026-12-02T00:00:00Z
end_ms=$((start_ms + seconds * 1000))

if [[ ! -s "$db" ]]; then
  echo "Generating $((seconds * 4)) readings into $db ..."
  t0=$(date +%s.%N)
  bench/make-history.sh "$db" "$start_ms" "$seconds"
  echo "  generated in $(echo "$(date +%s.%N) - $t0" | bc) s, $(du -m "$db" | cut -f1) MB"
fi

measure() { # label, output file, command...
  local label=$1 out=$2; shift 2
  sync
  /usr/bin/time -v -o "$work/time.txt" "$@" > "$out"
  local wall peak
  wall=$(grep 'Elapsed (wall clock)' "$work/time.txt" | awk '{print $NF}' | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')
  peak=$(grep 'Maximum resident' "$work/time.txt" | awk '{print $NF}')
  printf '%-44s %8.1f s %8d rows/s %6d MB peak\n' "$label" "$wall" "$(echo "$seconds * 4 / $wall" | bc)" "$((peak / 1024))"
}

export TZ=UTC LC_ALL=C
query="SELECT time_ms, channel, tag, type, ok, value, unit, temperature, value2, unit2, total_day, total
  FROM readings WHERE channel IN (0, 1, 2, 3) AND time_ms >= $start_ms AND time_ms < $end_ms"
for run in 1 2; do
  echo "Run $run:"
  measure "zentlog-history export --format csv" "$work/stdout.txt" \
    "$tool" export --format csv --output "$work/export.csv" "$db"
  measure "sqlite3 -csv, ORDER BY time_ms, channel" "$work/sqlite-ordered.csv" \
    sqlite3 -readonly -csv -header "$db" "$query ORDER BY time_ms, channel, id"
  measure "sqlite3 -csv, in storage order" "$work/sqlite-stored.csv" \
    sqlite3 -readonly -csv -header "$db" "$query"
done
echo "Rows: export $(($(wc -l < "$work/export.csv") - 1)), sqlite3 $(($(wc -l < "$work/sqlite-ordered.csv") - 1));" \
     "sizes: $(du -m "$work/export.csv" | cut -f1) MB and $(du -m "$work/sqlite-ordered.csv" | cut -f1) MB"
