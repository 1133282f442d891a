#!/usr/bin/env bash
# Installs what is missing, builds, and starts ZENTLOG.
#   ./run.sh                 the simulated installation: zentlog-sim serves four stations on a
#                            pseudo-terminal that COM1 points at; working directory ./run (from demo/)
#   ./run.sh --workdir DIR   the program on real hardware with "config.txt" and "PortCom.dat" in DIR
#   ./run.sh --station       the simulated installation measured by zentlog-station, without a
#                            display (Ctrl+C ends it); add --workdir DIR for real hardware
#   ./run.sh --network [rtu|modbus]   the simulated installation over TCP on this machine: the
#                            stations behind a serial device server (rtu, the default) or a Modbus
#                            TCP gateway (modbus); combines with --station
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

workdir=""
station=""
network=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --workdir) workdir="${2:?--workdir needs a directory}"; shift 2 ;;
    --station) station=1; shift ;;
    --network)
      network=rtu; shift
      if [[ "${1:-}" == rtu || "${1:-}" == modbus ]]; then network="$1"; shift; fi ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done

if [[ -z "$station" && -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && "${QT_QPA_PLATFORM:-}" != "offscreen" ]]; then
  echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); ZENTLOG is a desktop program." >&2
  echo "        Start it from a desktop session, or try: xvfb-run ./run.sh" >&2
  exit 1
fi

scripts/install-deps.sh run
cmake --preset default >/dev/null
cmake --build --preset default

program="$root/build/default/src/app/zentlog"
[[ -n "$station" ]] && program="$root/build/default/tools/station/zentlog-station"
if [[ -n "$workdir" ]]; then
  cd "$workdir"
  exec "$program"
fi

# The simulated installation. Files the user changed in ./run are kept.
workdir="$root/run"
mkdir -p "$workdir"
for f in demo/config.txt demo/PortCom.dat demo/zentlog.ini demo/instrum1.bmp demo/stations.conf demo/*.log; do
  [[ -e "$f" ]] || continue
  [[ -e "$workdir/$(basename "$f")" ]] || cp "$f" "$workdir/"
done

line="$workdir/ttyZENTLOG"
rm -f "$workdir/sim.out"
if [[ -n "$network" ]]; then
  "$root/build/default/tools/sim/zentlog-sim" --config "$workdir/stations.conf" --listen 127.0.0.1:0 --mode "$network" > "$workdir/sim.out" 2>"$workdir/sim.err" &
else
  "$root/build/default/tools/sim/zentlog-sim" --config "$workdir/stations.conf" --link "$line" --pace > "$workdir/sim.out" 2>&1 &
fi
sim=$!
echo "$sim" > "$workdir/sim.pid"
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$workdir/sim.pid"' EXIT
for _ in $(seq 50); do
  [[ -z "$network" && -e "$line" ]] && break
  [[ -n "$network" && -s "$workdir/sim.out" ]] && { line=$(head -1 "$workdir/sim.out"); break; }
  kill -0 "$sim" 2>/dev/null || { echo "run.sh: the station simulator did not start:" >&2; cat "$workdir/sim.out" "$workdir/sim.err" 2>/dev/null >&2; exit 1; }
  sleep 0.1
done
echo "Simulated stations on $( [[ -n "$network" ]] && echo "$line" || readlink "$line") (COM1); starting $(basename "$program") in $workdir"
echo "Stations: $workdir/stations.conf (after a change: kill -HUP \$(cat $workdir/sim.pid))"
cd "$workdir"
ZENTLOG_COM1="$line" "$program"
