#!/usr/bin/env bash
# The measurement window attached to zentlog-station: the station measures four stations of
# zentlog-sim, paced at 9600 baud, and zentlog-bench-viewer (the program's application object and
# measurement window, offscreen) shows them as a viewer.
#   - latency from the end of a visit in the station to its text on the window's panel (target:
#     under 100 ms), median, 95th percentile, maximum; and panel texts that differ from the station's.
# Usage: bench/viewer.sh [BUILD_DIR] [SECONDS]   (default build/default and 60 s, built beforehand)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
benchStart zentlog-bench-viewer "$@"

printf '1,2\r\n"1","pH"\r\n1,1\r\n"2","cond"\r\n1,5\r\n"3","flow"\r\n1,3\r\n"1","orp"\r\n#TRUE#,#TRUE#,#TRUE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#TRUE#\r\n' >"$work/config.txt"
printf ' 1  0 \r\n 0 \r\n 0 \r\n' >"$work/PortCom.dat"
"$sim" --station "1 0 ph" --station "2 0 conductivity" --station "3 0 flow" --station "1 20 orp" --pace \
  --link "$work/line" >/dev/null 2>"$work/sim.err" &
pids+=("$!")
for _ in $(seq 50); do [[ -e $work/line ]] && break; sleep 0.1; done
env -u DISPLAY -u QT_QPA_PLATFORM ZENTLOG_COM1="$work/line" "$station" --workdir "$work" 2>"$work/station.log" &
pids+=("$!")
for _ in $(seq 50); do [[ -S $work/zentlog-station.sock ]] && break; sleep 0.1; done

QT_QPA_PLATFORM=offscreen "$driver" "$work" "$seconds" >"$work/report" 2>"$work/viewer.log"
value() { awk -v k="$1" '$1 == k { print $2 }' "$work/report"; }
cat <<REPORT
Four paced stations, one viewer, ${seconds} s
  visits shown on the panels                          $(value visits)
  latency, end of visit to panel (ms) median/p95/max  $(value latency_ms_median) / $(value latency_ms_p95) / $(value latency_ms_max)
  panel texts unlike the station's                    $(value mismatches)
Target: latency under 100 ms.
REPORT
