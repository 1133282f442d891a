#!/usr/bin/env bash
# Bytes that zentlog-station writes to the disk while it measures four paced stations of
# zentlog-sim with the history on, from /proc/PID/io write_bytes (what the process sent towards
# the disk, before the filesystem's own journal): per hour and per day, beside what the history
# file grew by, and with the number of commits and checkpoints counted from the system calls
# (fdatasync/fsync of the history's files) when strace is there.
# The file's size per reading after a checkpoint is given too (with a run of an hour: the size of
# real recorded readings).
# Usage: bench/history-writes.sh [BUILD_DIR] [SECONDS] [mqtt] [write_interval_seconds=N]
#   (default build/default and 180 s; a run shorter than the checkpoint interval, five minutes,
#   sees no checkpoint)
#   mqtt: publishing to a local mosquitto too (acknowledgements are kept in the history file);
#   write_interval_seconds=N: the [history] setting (default 10; 0 commits every cycle).
# The run's folder must be on a disk: tmpfs counts no written bytes (set TMPDIR to move it).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/lib.sh
benchStart "" "${1:-build/default}" "${2:-180}"
shift $(( $# < 2 ? $# : 2 ))
mode=
printf '[history]\n' >"$work/zentlog.ini"
for option in "$@"; do
  case $option in
    mqtt) mode=mqtt ;;
    write_interval_seconds=*) echo "$option" >>"$work/zentlog.ini" ;;
    *) echo "unknown option $option" >&2; exit 2 ;;
  esac
done
[[ $(stat -f -c %T "$work") != tmpfs ]] || { echo "$work is on tmpfs: nothing would be counted" >&2; exit 2; }

if [[ $mode == mqtt ]]; then
  port=$(( 20000 + RANDOM % 20000 ))
  printf 'listener %s 127.0.0.1\nallow_anonymous true\nuser root\n' "$port" >"$work/mosquitto.conf"
  /usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 &
  pids+=("$!")
  for _ in $(seq 50); do mosquitto_pub -h 127.0.0.1 -p "$port" -t probe -m x 2>/dev/null && break; sleep 0.1; done
  printf '[mqtt]\nenabled=true\nhost=127.0.0.1\nport=%s\nsite=bench\n' "$port" >>"$work/zentlog.ini"
fi

benchStationOnSim
written() { awk '$1 == "write_bytes:" { print $2 }' "/proc/$station_pid/io"; }
calc() { awk "BEGIN { printf \"%.${2:-1}f\", $1 }"; }
# The first cycles create the file: the count starts once it is there.
sleep 5
bytes_start=$(written)
size_start=$(du -bc "$work"/history.sqlite* | tail -1 | cut -f1)
syncs=none
if command -v strace >/dev/null; then
  strace -f -qq -e trace=fsync,fdatasync -o "$work/syncs" -p "$station_pid" &
  tracer=$!
  pids+=("$tracer")
fi
sleep "$seconds"
bytes_end=$(written)
size_end=$(du -bc "$work"/history.sqlite* | tail -1 | cut -f1)
if [[ -n ${tracer:-} ]]; then
  kill "$tracer" 2>/dev/null || true
  wait "$tracer" 2>/dev/null || true
  syncs=$(grep -c 'sync(' "$work/syncs" || true)
fi
kill -TERM "$station_pid"
wait "$station_pid" || true
rows=$(sqlite3 "$work/history.sqlite" 'SELECT count(*) FROM readings')
layout=$(sqlite3 "$work/history.sqlite" 'PRAGMA user_version')
sqlite3 "$work/history.sqlite" 'PRAGMA wal_checkpoint(TRUNCATE)' >/dev/null
size_file=$(stat -c %s "$work/history.sqlite")

per_hour=$(calc "($bytes_end - $bytes_start) * 3600 / $seconds / 1048576")
cat <<REPORT
zentlog-station, four paced stations, history on${mode:+, MQTT on}, ${seconds} s, $(grep -h interval "$work/zentlog.ini" || echo "default interval")
  written to the disk (MB per hour)             ${per_hour}
  written to the disk (MB per day)              $(calc "$per_hour * 24" 0)
  history files grew by (MB per hour)           $(calc "($size_end - $size_start) * 3600 / $seconds / 1048576" 2)
  written per reading recorded (bytes)          $(calc "($bytes_end - $bytes_start) / ($rows * $seconds / ($seconds + 5))" 0)
  fsync/fdatasync calls (per minute)            $([[ $syncs == none ]] && echo none || calc "$syncs * 60 / $seconds")
  readings recorded                             ${rows}
  file after a checkpoint (bytes per reading)   $(calc "$size_file / $rows") (a day of four inputs: $(calc "$size_file / $rows * 345600 / 1000000") MB)
  layout of the file (user_version)             ${layout}
Target: at most 300 MB a day.
REPORT
