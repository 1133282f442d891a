#!/bin/sh
# The cost of evaluating the alarm limits per reading (bench/README.md, "Alarms").
set -eu
build=${1:-build/default}
cmake --build "$build" --target zentlog-bench-alarms >/dev/null
for run in 1 2; do
    "$build/bench/zentlog-bench-alarms"
done
