#!/usr/bin/env bash
# Measures zentlog-extract on generated logger files of 1,000 and 1,000,000 records:
# wall time and MB/s of input, the time `cp` takes to copy the produced output files on the
# same machine in the same run (the floor any extraction stands on), and peak memory.
#   bench/extract-bench.sh [RUNS]     (default 3 runs per size; the median is reported)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-3}"

if [[ ! -x /usr/bin/time ]]; then
  echo "Installing the Debian package 'time' (for peak memory)..."
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends time
fi

cmake --preset default >/dev/null
cmake --build --preset default --target zentlog-extract make-logger-file >/dev/null
extract="$PWD/build/default/tools/extract/zentlog-extract"
generate="$PWD/build/default/bench/make-logger-file"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C

now() { date +%s.%N; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-10s %9s %9s %10s %9s %9s %7s %12s\n' records "in MB" "out MB" "extract s" "MB/s" "cp s" ratio "peak RSS kB"
for records in 1000 1000000; do
  input="$work/data-$records.log"
  "$generate" "$records" "$input" --empty-every 500
  in_bytes=$(stat -c %s "$input")
  : >"$work/extract.times"; : >"$work/cp.times"; : >"$work/rss"
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/out" "$work/copy"; mkdir "$work/out" "$work/copy"
    start=$(now)
    /usr/bin/time -v -o "$work/time.txt" "$extract" --replace --output-dir "$work/out" "$input" >/dev/null
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }' >>"$work/extract.times"
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.txt" >>"$work/rss"
    start=$(now)
    cp "$work"/out/*.xls "$work/copy/"
    end=$(now)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }' >>"$work/cp.times"
  done
  out_bytes=$(cat "$work"/out/*.xls | wc -c)
  t_extract=$(median <"$work/extract.times")
  t_cp=$(median <"$work/cp.times")
  rss=$(median <"$work/rss")
  awk -v r="$records" -v ib="$in_bytes" -v ob="$out_bytes" -v te="$t_extract" -v tc="$t_cp" -v rss="$rss" 'BEGIN {
    printf "%-10d %9.2f %9.2f %10.3f %9.1f %9.3f %7.1f %12d\n", r, ib / 1e6, ob / 1e6, te, ib / 1e6 / te, tc, te / tc, rss }'
done
