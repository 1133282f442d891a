#!/usr/bin/env bash
# The measurement without a display beside the measurement window, in one run: zentlog-station
# and the program's measurement window (offscreen) each measure four stations of their own
# zentlog-sim, paced at 9600 baud, with the history and MQTT publishing on (one local mosquitto).
#   - share of a core of each (target for the station: under 0.3 %);
#   - resident memory of each (target for the station: under 25 MB);
#   - time from the station's start to its first request on the line (target: under 300 ms).
# Usage: bench/station.sh [BUILD_DIR] [SECONDS]   (default build/default and 60 s, built beforehand)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
benchStart zentlog-bench-measure "$@"

port=$(( 20000 + RANDOM % 20000 ))
printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser root\n' "$port" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
pids+=("$!")
for _ in $(seq 50); do mosquitto_pub -h 127.0.0.1 -p "$port" -t probe -m x 2>/dev/null && break; sleep 0.1; done

now_ms() { date +%s%3N; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
rss_kib() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$1/status"; }
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }

for who in station window; do
  mkdir -p "$work/$who"
  # Inputs 0..3: pH at 1, conductivity at 2, flow at 3, ORP on the Ext. block of 1.
  printf '1,2\r\n"1","pH"\r\n1,1\r\n"2","cond"\r\n1,5\r\n"3","flow"\r\n1,3\r\n"1","orp"\r\n#TRUE#,#TRUE#,#TRUE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#TRUE#\r\n' >"$work/$who/config.txt"
  printf ' 1  0 \r\n 0 \r\n 0 \r\n' >"$work/$who/PortCom.dat"
  printf '[mqtt]\nenabled=true\nhost=127.0.0.1\nport=%s\nsite=%s\n' "$port" "$who" >"$work/$who/zentlog.ini"
  sim_start=$(now_ms)
  "$sim" --station "1 0 ph" --station "2 0 conductivity" --station "3 0 flow" --station "1 20 orp" --pace \
    --link "$work/$who/line" --log "$work/$who/requests.log" >/dev/null 2>"$work/$who/sim.err" &
  pids+=("$!")
  for _ in $(seq 50); do [[ -e $work/$who/line ]] && break; sleep 0.1; done
  echo "$sim_start" >"$work/$who/sim_start"
done

# The station: started cold, its first request timed from the moment it is started.
started=$(now_ms)
(cd "$work/station" && exec env -u DISPLAY -u QT_QPA_PLATFORM ZENTLOG_COM1="$work/station/line" \
  "$station" --workdir "$work/station" 2>"$work/station/station.log") &
station_pid=$!
pids+=("$station_pid")
# The window: the benchmark driver reports its own share of a core and memory.
(cd "$work/window" && ZENTLOG_COM1="$work/window/line" QT_QPA_PLATFORM=offscreen \
  "$driver" "$seconds" >"$work/window/report" 2>"$work/window/driver.err") &
window_pid=$!
pids+=("$window_pid")

sleep 1.5
ticks_start=$(cpu_ticks "$station_pid")
rss_start=$(rss_kib "$station_pid")
sleep "$seconds"
ticks_end=$(cpu_ticks "$station_pid")
rss_end=$(rss_kib "$station_pid")
wait "$window_pid" || true
kill -TERM "$station_pid"
wait "$station_pid" && station_status=0 || station_status=$?

hz=$(getconf CLK_TCK)
station_share=$(calc "100 * ($ticks_end - $ticks_start) / $hz / $seconds" 3)
first=$(awk 'NR == 1 { print $1 }' "$work/station/requests.log")
first_request=$(( $(cat "$work/station/sim_start") + first - started ))
station_rows=$(sqlite3 "$work/station/history.sqlite" 'SELECT count(*) FROM readings')
window_rows=$(sqlite3 "$work/window/history.sqlite" 'SELECT count(*) FROM readings')
value() { awk -v k="$1" '$1 == k { print $2 }' "$work/window/report"; }

cat <<REPORT
Four paced stations each, history and MQTT on, ${seconds} s        station      window
  share of a core (%)                                  ${station_share}        $(value cpu_share_percent)
  resident memory (MB)                                 $(calc "$rss_end / 1024" 1)         $(calc "$(value rss_kib_end) / 1024" 1)
  resident memory at the start of the run (MB)         $(calc "$rss_start / 1024" 1)         $(calc "$(value rss_kib_start) / 1024" 1)
  readings recorded                                    ${station_rows}          ${window_rows}
  first request after the start (ms)                   ${first_request}
  exit status after SIGTERM                            ${station_status}
Targets for the station: under 0.3 % of a core, under 25 MB, first request within 300 ms.
REPORT
