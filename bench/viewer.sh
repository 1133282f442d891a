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

benchStationOnSim

QT_QPA_PLATFORM=offscreen "$driver" "$work" "$seconds" >"$work/report" 2>"$work/viewer.log"
value() { awk -v k="$1" '$1 == k { print $2 }' "$work/report"; }
cat <<REPORT
Four paced stations, one viewer, ${seconds} s
  visits shown on the panels                          $(value visits)
  latency, end of visit to panel (ms) median/p95/max  $(value latency_ms_median) / $(value latency_ms_p95) / $(value latency_ms_max)
  panel texts unlike the station's                    $(value mismatches)
Target: latency under 100 ms.
REPORT
