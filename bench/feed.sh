#!/usr/bin/env bash
# The station's live feed: zentlog-station measures four stations of zentlog-sim, paced at 9600
# baud, while two clients are attached: zentlog-bench-feed, which reads every line, and a client
# that never reads (socat into a pipe nobody empties).
#   - latency from the end of a visit in the station to its line at the reading client (target:
#     under 100 ms), median, 95th percentile, maximum;
#   - the station's resident memory at the start and end, and the longest gap between two of its
#     state lines (one per cycle: the cycles keep their pace while a client reads nothing).
# Usage: bench/feed.sh [BUILD_DIR] [SECONDS]   (default build/default and 60 s, built beforehand)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
benchStart zentlog-bench-feed "$@"
command -v socat >/dev/null || { echo "missing socat (Debian package socat)" >&2; exit 2; }
rss_kib() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$1/status"; }
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }

benchStationOnSim

# The client that never reads: socat stops reading the socket once the pipe to sleep is full.
socat -u UNIX-CONNECT:"$work/zentlog-station.sock" - | sleep $(( seconds + 30 )) &
pids+=("$!")
sleep 1.5
rss_start=$(rss_kib "$station_pid")
"$driver" "$work" "$seconds" >"$work/report"
rss_end=$(rss_kib "$station_pid")
value() { awk -v k="$1" '$1 == k { print $2 }' "$work/report"; }
dropped=$(grep -c "client of the live feed is dropped" "$work/station.log" || true)

cat <<REPORT
Four paced stations, two feed clients (one never reads), ${seconds} s
  visits received                                 $(value visits)
  latency, end of visit to line (ms) median/p95/max   $(value latency_ms_median) / $(value latency_ms_p95) / $(value latency_ms_max)
  state lines / longest gap between two (ms)      $(value states) / $(value state_gap_ms_max)
  station's resident memory start / end (MB)      $(calc "$rss_start / 1024" 1) / $(calc "$rss_end / 1024" 1)
  clients dropped for not reading                 ${dropped}
Target: latency under 100 ms.
REPORT
