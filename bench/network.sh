#!/usr/bin/env bash
# Network port benchmark: the time per exchange of zentlog-poll against the same zentlog-sim
# station on a pseudo-terminal, behind a serial device server (rtu+tcp://) and behind a Modbus TCP
# gateway (modbus+tcp://) on loopback, side by side in one run. Replies are not paced: what is
# measured is the program's and the transport's own cost per exchange.
# Usage: bench/network.sh [BUILD_DIR] [READINGS]   (default: build/default, 2000 readings)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
readings=${2:-2000}
sim=$build/tools/sim/zentlog-sim
poll=$build/tools/poll/zentlog-poll
for tool in "$sim" "$poll"; do
  [[ -x $tool ]] || { echo "missing $tool (build first)" >&2; exit 2; }
done
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

start_sim() { # start_sim NAME [SIM OPTION]...: the device it serves in device_NAME
  local name=$1
  shift
  "$sim" --station "1 0 ph fixed" "$@" >"$work/$name.out" 2>"$work/$name.err" &
  pids+=("$!")
  for _ in $(seq 50); do [[ -s $work/$name.out ]] && break; sleep 0.1; done
  printf -v "device_$name" '%s' "$(head -1 "$work/$name.out")"
}

# Milliseconds for COUNT readings on DEVICE, start-up included.
run_ms() {
  local start end
  start=$(date +%s%N)
  "$poll" --device "$1" --address 1 --role master --type pH --watch --interval 0 --count "$2" >/dev/null
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}

start_sim pty --link "$work/line"
start_sim rtu --listen 127.0.0.1:0 --mode rtu
start_sim modbus --listen 127.0.0.1:0 --mode modbus

declare -A per
for name in pty rtu modbus; do
  device_var="device_$name"
  device=${!device_var}
  once=$(run_ms "$device" 1)
  many=$(run_ms "$device" "$readings")
  per[$name]=$(awk -v a="$many" -v b="$once" -v n="$readings" 'BEGIN { printf "%.3f", (a - b) / (n - 1) }')
  printf '%-7s %-32s %8s ms per exchange\n' "$name" "$device" "${per[$name]}"
done
for name in rtu modbus; do
  awk -v a="${per[$name]}" -v b="${per[pty]}" -v n="$name" \
    'BEGIN { printf "overhead of %s over the pty: %+.3f ms per exchange (target < 1 ms)\n", n, a - b }'
done
