#!/usr/bin/env bash
# Measurement benchmark: the program's own measurement (application object and measurement window,
# offscreen) against zentlog-sim pacing its replies at 9600 baud.
#   - share of a core used while measuring four answering stations (target: under 1 %);
#   - cycle time of four answering stations against the bytes' wire time;
#   - extra cost of one silent station beyond its 2000 ms limit (target: under 50 ms);
#   - the share of a core the measurement history costs: the four stations again with recording
#     off in "zentlog.ini" (target: a difference under 0.1 % of a core);
#   - the same with the frame trace on in "zentlog.ini" (target: still under 1 % of a core).
# Usage: bench/measurement.sh [BUILD_DIR]   (default build/default, built beforehand)
#        SECONDS_ANSWERING=60 SECONDS_SILENT=20 change the run lengths.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build/default}
sim=$root/$build/tools/sim/zentlog-sim
driver=$root/$build/bench/zentlog-bench-measure
for tool in "$sim" "$driver"; do
  [[ -x $tool ]] || { echo "missing $tool (build first)" >&2; exit 2; }
done
answering=${SECONDS_ANSWERING:-60}
silent=${SECONDS_SILENT:-20}

work=$(mktemp -d)
sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

# Channels 0..3: pH at 1, conductivity at 2, flow at 3, ORP on the Ext. block of 1.
printf '1,2\r\n"1","pH"\r\n1,1\r\n"2","cond"\r\n1,5\r\n"3","flow"\r\n1,3\r\n"1","orp"\r\n#TRUE#,#TRUE#,#TRUE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#TRUE#\r\n' >"$work/config.txt"
printf ' 1  0 \r\n 0 \r\n 0 \r\n' >"$work/PortCom.dat"

run() { # run NAME SECONDS STATION...: leaves the driver's report in $work/NAME
  local name=$1 seconds=$2; shift 2
  local args=()
  for station in "$@"; do args+=(--station "$station"); done
  [[ -n $sim_pid ]] && { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=; }
  rm -f "$work/line"
  "$sim" "${args[@]}" --pace --link "$work/line" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [[ -e $work/line ]] && break; sleep 0.1; done
  (cd "$work" && ZENTLOG_COM1="$work/line" QT_QPA_PLATFORM=offscreen "$driver" "$seconds" >"$work/$name" 2>"$work/$name.err")
}
value() { awk -v k="$2" '$1 == k { print $2 }' "$work/$1"; }
calc() { awk "BEGIN { printf \"%.${2:-1}f\", $1 }"; }

run four "$answering" "1 0 ph" "2 0 conductivity" "3 0 flow" "1 20 orp"
recorded=$(sqlite3 "$work/history.sqlite" 'SELECT count(*) FROM readings' 2>/dev/null || echo none)
printf '[history]\nenabled=false\n' >"$work/zentlog.ini"
run unrecorded "$answering" "1 0 ph" "2 0 conductivity" "3 0 flow" "1 20 orp"
printf '[diagnostics]\ntrace=true\n' >"$work/zentlog.ini"
run traced "$answering" "1 0 ph" "2 0 conductivity" "3 0 flow" "1 20 orp"
traced_bytes=$(cat "$work"/trace-*.log 2>/dev/null | wc -c)
rm -f "$work/zentlog.ini"
run silent "$silent" "1 0 ph" "2 0 conductivity" "3 0 flow silent" "1 20 orp"

wire=$(calc "4 * 29 * 10 / 9600 * 1000" 1)   # 8 + 21 bytes of 10 bits per station
four_cycle=$(value four cycle_ms_median)
per_station=$(calc "$four_cycle / 4" 1)
silent_cycle=$(value silent cycle_ms_median)
extra=$(calc "$silent_cycle - 3 * $four_cycle / 4 - 2000" 0)

cat <<REPORT
Four answering stations, ${answering} s: $(value four cycles) cycles
  share of a core:            $(value four cpu_share_percent) %   (target < 1 %)
  cycle time (median / max):  ${four_cycle} / $(value four cycle_ms_max) ms, wire time ${wire} ms
  per station:                ${per_station} ms (its bytes: 30.2 ms)
  resident memory:            $(value four rss_kib_start) -> $(value four rss_kib_end) KiB
  readings recorded:          ${recorded}
The same without recording, ${answering} s: $(value unrecorded cycles) cycles
  share of a core:            $(value unrecorded cpu_share_percent) %
  recording costs:            $(calc "$(value four cpu_share_percent) - $(value unrecorded cpu_share_percent)" 3) % of a core   (target < 0.1 %)
The same with the frame trace on, ${answering} s: $(value traced cycles) cycles
  share of a core:            $(value traced cpu_share_percent) %   (target < 1 %)
  trace written:              ${traced_bytes} bytes
One of them silent, ${silent} s: $(value silent cycles) cycles
  cycle time (median):        ${silent_cycle} ms
  cost of the silent station beyond its 2000 ms limit: ${extra} ms   (target < 50 ms)
Labels at the end:
$(grep '^label_' "$work/four")
REPORT
