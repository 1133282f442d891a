#!/bin/bash
# Publishing to MQTT on loopback: SITES sites (default 1000) at one cycle of four channels a second
# against one local mosquitto for SECONDS (default 60), received by mosquitto_sub; then the
# backfill of a 10-minute outage of one site while its live cycles go on.
#   bench/publish.sh [BUILD_DIR] [SITES] [SECONDS]
set -eu
build=${1:-build/default}
sites=${2:-1000}
seconds=${3:-60}
dir=$(mktemp -d "${TMPDIR:-/tmp}/zentlog-publish-bench.XXXXXX")
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
# A connection each, for the sites and for the broker.
ulimit -n 8192

port=$(( 20000 + RANDOM % 20000 ))
cat >"$dir/mosquitto.conf" <<CONF
listener $port 127.0.0.1
allow_anonymous true
max_queued_messages 0
max_inflight_messages 0
user root
CONF
/usr/sbin/mosquitto -c "$dir/mosquitto.conf" >"$dir/broker.log" 2>&1 &
broker=$!
pids+=("$broker")
for _ in $(seq 50); do
  mosquitto_pub -h 127.0.0.1 -p "$port" -t probe -m x 2>/dev/null && break
  sleep 0.1
done

mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -t 'zentlog/+/+/reading' -F '%U %t %p' >"$dir/received" &
pids+=("$!")
sleep 1

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)
broker_before=$(ticks "$broker")
start=$(date +%s.%N)
"$build/bench/zentlog-bench-publish" sites "$port" "$sites" "$seconds" | tee "$dir/sites.out" || true
end=$(date +%s.%N)
broker_after=$(ticks "$broker")
sleep 2
awk -v b="$broker_before" -v a="$broker_after" -v s="$start" -v e="$end" -v hz="$hz" \
  'BEGIN { printf "broker_cpu_share=%.1f %% of one core over %.0f s\n", 100 * (a - b) / hz / (e - s), e - s }'

published=$(sed -n 's/.*published=\([0-9]*\).*/\1/p' "$dir/sites.out")
# Latency: arrival at the subscriber less the reading's own time, which is when it was handed
# to the publisher.
awk '{ if (match($0, /"time_ms":[0-9]+/)) { t = substr($0, RSTART + 10, RLENGTH - 10); printf "%.3f\n", ($1 * 1000) - t } }' \
  "$dir/received" | sort -n >"$dir/latency"
received=$(wc -l <"$dir/latency")
unique=$(awk '{ if (match($0, /"time_ms":[0-9]+/)) print $2, substr($0, RSTART, RLENGTH) }' "$dir/received" | sort -u | wc -l)
p50=$(awk -v n="$received" 'NR == int(n * 0.50) + 1 { print; exit }' "$dir/latency")
p99=$(awk -v n="$received" 'NR == int(n * 0.99) + 1 { print; exit }' "$dir/latency")
echo "received=$received distinct=$unique published=${published:-?} lost=$(( ${published:-0} - unique ))" \
  "latency_ms_p50=$p50 latency_ms_p99=$p99"

mkdir -p "$dir/backfill"
"$build/bench/zentlog-bench-publish" backfill "$port" "$dir/backfill" 10
