# What the benchmarks that run zentlog-station beside zentlog-sim share; sourced, not run.
# benchStart DRIVER_NAME "$@" sets root, build, seconds, sim, station and driver
# (from the arguments [BUILD_DIR] [SECONDS], default build/default and 60 s), checks that each is
# there, and makes the run's folder `work`, removed at the end with every process listed in `pids`.
benchStart() {
  local name=$1
  shift
  root=$(pwd)
  build=${1:-build/default}
  seconds=${2:-60}
  sim=$root/$build/tools/sim/zentlog-sim
  station=$root/$build/tools/station/zentlog-station
  # A benchmark that drives nothing itself passes an empty name.
  driver=$root/$build/bench/$name
  [[ -n $name ]] || driver=$sim
  for tool in "$sim" "$station" "$driver"; do
    [[ -x $tool ]] || { echo "missing $tool (build first)" >&2; exit 2; }
  done
  work=$(mktemp -d)
  pids=()
  trap benchCleanup EXIT
}

benchCleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}

# zentlog-station measuring `work` on four paced stations of zentlog-sim (pH, conductivity, flow,
# ORP on an extension block), once its live feed is up; its process id in station_pid.
benchStationOnSim() {
  printf '1,2\r\n"1","pH"\r\n1,1\r\n"2","cond"\r\n1,5\r\n"3","flow"\r\n1,3\r\n"1","orp"\r\n#TRUE#,#TRUE#,#TRUE#,#FALSE#\r\n#FALSE#,#FALSE#,#FALSE#,#TRUE#\r\n' >"$work/config.txt"
  printf ' 1  0 \r\n 0 \r\n 0 \r\n' >"$work/PortCom.dat"
  "$sim" --station "1 0 ph" --station "2 0 conductivity" --station "3 0 flow" --station "1 20 orp" --pace \
    --link "$work/line" >/dev/null 2>"$work/sim.err" &
  pids+=("$!")
  for _ in $(seq 50); do [[ -e $work/line ]] && break; sleep 0.1; done
  env -u DISPLAY -u QT_QPA_PLATFORM ZENTLOG_COM1="$work/line" "$station" --workdir "$work" 2>"$work/station.log" &
  station_pid=$!
  pids+=("$station_pid")
  for _ in $(seq 50); do [[ -S $work/zentlog-station.sock ]] && break; sleep 0.1; done
}
