#!/usr/bin/env bash
# Soak: the program's own measurement (zentlog-bench-measure: application object, measurement
# window offscreen, QSerialPort) reads four stations of zentlog-sim, pacing its replies at
# 9600 baud, for a long time while the stations misbehave now and then.
#   - resident memory at start and end (target: growth under 1 MB), and every minute between;
#   - cycles run against cycles expected (one tick a second; a cycle longer than a second takes
#     the ticks it overlaps);
#   - the longest time between two readings shown for a channel whose station answers.
# The faults come with small probabilities and change every SOAK_ROTATE_SECONDS (three sets in
# turn: noise, wrong CRC, silence, exceptions, late replies, truncated replies, a reply for
# another address); every SOAK_RECREATE_SECONDS the simulator closes its pseudo-terminal and
# makes a new one, as an unplugged and replugged adapter would.
# Usage: bench/soak.sh [BUILD_DIR]   (default build/default, built beforehand)
#        SOAK_MINUTES=30 SOAK_ROTATE_SECONDS=300 SOAK_RECREATE_SECONDS=600 change the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build/default}
[[ $build == /* ]] || build=$root/$build
sim=$build/tools/sim/zentlog-sim
driver=$build/bench/zentlog-bench-measure
for tool in "$sim" "$driver"; do
  [[ -x $tool ]] || { echo "missing $tool (build first)" >&2; exit 2; }
done
minutes=${SOAK_MINUTES:-30}
rotate=${SOAK_ROTATE_SECONDS:-300}
recreate=${SOAK_RECREATE_SECONDS:-600}
seconds=$((minutes * 60))

work=$(mktemp -d)
sim_pid=
changer_pid=
cleanup() {
  [[ -n $changer_pid ]] && kill "$changer_pid" 2>/dev/null
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Channels 0..3: pH at 1, conductivity at 2, flow at 3, ORP on the Ext. block of 1.
printf '1,2\r\n"1","pH"\r\n1,1\r\n"2","cond"\r\n1,5\r\n"3","flow"\r\n1,3\r\n"1","orp"\r\n#TRUE#,#TRUE#,#TRUE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#TRUE#\r\n' >"$work/config.txt"
printf ' 1  0 \r\n 0 \r\n 0 \r\n' >"$work/PortCom.dat"

# Three sets of intermittent faults, one kind per station block at a time.
fault_sets=(
  "noise=6 prob=0.02|badcrc prob=0.005|silent prob=0.003|exception prob=0.01"
  "late=2100 prob=0.003|noise=3 prob=0.02|truncate=10 prob=0.005|wrongaddr=9 prob=0.005"
  "exception=2 prob=0.01|silent prob=0.003|noise=12 prob=0.02|badcrc prob=0.005"
)
write_stations() { # write_stations SET
  local faults
  IFS='|' read -r -a faults <<<"${fault_sets[$1]}"
  printf '%s\n' "1 0 ph delay=10 ${faults[0]}" "2 0 conductivity delay=10 ${faults[1]}" \
    "3 0 flow delay=10 ${faults[2]}" "1 20 orp delay=10 ${faults[3]}" >"$work/stations.conf"
}
write_stations 0
"$sim" --config "$work/stations.conf" --pace --link "$work/line" --fault-log "$work/faults.log" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 50); do [[ -e $work/line ]] && break; sleep 0.1; done

# Changes the faults and re-creates the line while the measurement runs.
(
  set=0
  for ((t = 1; t <= seconds; t++)); do
    sleep 1
    if ((t % rotate == 0)); then
      set=$(((set + 1) % ${#fault_sets[@]}))
      write_stations "$set"
      kill -HUP "$sim_pid" 2>/dev/null
    fi
    if ((t % recreate == 0)); then kill -USR1 "$sim_pid" 2>/dev/null; fi
  done
) &
changer_pid=$!

(cd "$work" && ZENTLOG_COM1="$work/line" QT_QPA_PLATFORM=offscreen "$driver" "$seconds" --rss-every 60 \
  >"$work/soak" 2>"$work/soak.err")

# A simulator that ended before the measurement makes the figures worthless: say so.
if kill -0 "$sim_pid" 2>/dev/null; then sim_state="served the whole run"; else sim_state="ENDED BEFORE THE RUN DID: the figures are not valid"; fi
value() { awk -v k="$1" '$1 == k { print $2 }' "$work/soak"; }
rss_start=$(value rss_kib_start)
rss_end=$(value rss_kib_end)
cycles=$(value cycles)
swallowed=$(value ticks_swallowed_by_long_cycles)
cat <<REPORT
Soak, ${minutes} min, four stations with intermittent faults (sets changed every ${rotate} s, line re-created every ${recreate} s)
  resident memory:            ${rss_start} -> ${rss_end} KiB, growth $((rss_end - rss_start)) KiB   (target < 1024 KiB)
  memory every minute (KiB):  $(awk '$1 == "rss_kib_at" { printf "%s ", $3 }' "$work/soak")
  cycles run / expected:      ${cycles} / $(value cycles_expected)   (ticks taken by cycles over 1 s: ${swallowed}; run + taken = $((cycles + swallowed)))
  cycle time (median / max):  $(value cycle_ms_median) / $(value cycle_ms_max) ms
  share of a core:            $(value cpu_share_percent) %
  longest gap between two readings of an answering channel: $(value longest_gap_ms) ms
$(grep '^channel_' "$work/soak" | sed 's/^/  /')
  faults injected:            $(grep -vc ' recreated$' "$work/faults.log" || true) ($(awk '$4 != "recreated" { sub(/=.*/, "", $4); n[$4]++ } END { for (k in n) printf "%s %d, ", k, n[k] }' "$work/faults.log"))
  line re-created:            $(grep -c ' recreated$' "$work/faults.log" || true) times
  messages shown:             $(grep -c '^message:' "$work/soak.err" || true)
  simulator:                  ${sim_state}
Labels at the end:
$(grep '^label_' "$work/soak")
REPORT
