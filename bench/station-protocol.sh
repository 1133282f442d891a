#!/usr/bin/env bash
# Station protocol benchmark: zentlog-poll against zentlog-sim on a pseudo-terminal, measured
# with /usr/bin/time -v.
#   - CPU time per exchange (fast mode: no pause between readings);
#   - share of a core while waiting for a silent station;
#   - overhead per exchange beyond the bytes' own time on a 9600 baud line (simulator paced);
#   - share of a core in the usual --watch mode (one reading a second).
# Usage: bench/station-protocol.sh [BUILD_DIR]   (default: build/default, built beforehand)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
sim=$build/tools/sim/zentlog-sim
poll=$build/tools/poll/zentlog-poll
for tool in "$sim" "$poll" /usr/bin/time; do
  [[ -x $tool ]] || { echo "missing $tool (build first; /usr/bin/time comes with Debian's package 'time')" >&2; exit 2; }
done

work=$(mktemp -d)
sim_pid=
cleanup() { [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

start_sim() { # start_sim [SIM OPTION]...
  [[ -n $sim_pid ]] && { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; }
  "$sim" --station "1 0 ph fixed" --station "2 0 ph silent" --link "$work/line" "$@" >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  for _ in $(seq 50); do [[ -e $work/line ]] && return; sleep 0.1; done
  echo "zentlog-sim did not start" >&2; exit 1
}

# measure NAME ADDRESS COUNT INTERVAL: runs zentlog-poll, leaves "wall cpu" in $work/NAME.
measure() {
  local name=$1 address=$2 count=$3 interval=$4
  /usr/bin/time -v -o "$work/$name.time" "$poll" --device "$work/line" --address "$address" --role Master \
    --type pH --watch --count "$count" --interval "$interval" >/dev/null || true
  awk -F': ' '/User time/ {u=$2} /System time/ {s=$2}
    /Elapsed \(wall clock\)/ { n=split($2, p, ":"); w=0; for (i=1; i<=n; i++) w = w*60 + p[i] }
    END { printf "%.4f %.4f\n", w, u+s }' "$work/$name.time" >"$work/$name"
}
wall() { cut -d' ' -f1 "$work/$1"; }
cpu() { cut -d' ' -f2 "$work/$1"; }
calc() { awk "BEGIN { printf \"%.${2:-2}f\", $1 }"; }

n=${EXCHANGES:-5000}
start_sim
measure fast1 1 1 0
measure fast 1 "$n" 0
cpu_per_exchange=$(calc "($(cpu fast) - $(cpu fast1)) / ($n - 1) * 1000000" 0)
rate=$(calc "($n - 1) / ($(wall fast) - $(wall fast1))" 0)

measure silent 2 5 0
# /usr/bin/time counts CPU time in steps of 10 ms: a zero means less than one step.
silent_cpu=$(awk -v c="$(cpu silent)" 'BEGIN { if (c > 0) printf "%.2f", c; else printf "0.01" }')
silent_bound=$( [[ $(cpu silent) == 0.0000 ]] && echo "< " || echo "" )
silent_share=$(calc "$silent_cpu / $(wall silent) * 100" 2)

measure watch 1 10 1000
watch_share=$(calc "$(cpu watch) / $(wall watch) * 100" 2)

m=${PACED_EXCHANGES:-200}
start_sim --pace
measure paced1 1 1 0
measure paced 1 "$m" 0
per_exchange_ms=$(calc "($(wall paced) - $(wall paced1)) / ($m - 1) * 1000" 1)
# 8 request bytes and 21 reply bytes of 10 bits at 9600 baud.
line_ms=$(calc "29 * 10 / 9600 * 1000" 1)
overhead_ms=$(calc "$per_exchange_ms - $line_ms" 1)

cat <<REPORT
Station protocol ($(nproc) cores, $(date -u +%Y-%m-%d))
  CPU time per exchange (fast mode, $n exchanges):       ${cpu_per_exchange} us  (${rate} exchanges/s)
  Share of a core while waiting for a silent station:    ${silent_bound}${silent_share} % over $(calc "$(wall silent)" 1) s (5 readings, start-up included)
  Share of a core in --watch (one reading a second):     ${watch_share} % over $(calc "$(wall watch)" 1) s
  Time per exchange on a paced 9600 baud line ($m):      ${per_exchange_ms} ms, of which the bytes take ${line_ms} ms
  Overhead per exchange beyond the bytes' own time:      ${overhead_ms} ms
REPORT
