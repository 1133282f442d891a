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
  driver=$root/$build/bench/$name
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
