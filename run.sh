#!/usr/bin/env bash
# Installs what is missing, builds, and starts ZENTLOG.
#   ./run.sh                 the program, working directory ./run (made from demo/)
#   ./run.sh --workdir DIR   the program on real hardware with "config.txt" and "PortCom.dat" in DIR
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)

workdir=""
while [[ $# -gt 0 ]]; do
  case "$1" in
    --workdir) workdir="${2:?--workdir needs a directory}"; shift 2 ;;
    -h|--help) sed -n '2,4p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown argument '$1' (try --help)" >&2; exit 2 ;;
  esac
done

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" && "${QT_QPA_PLATFORM:-}" != "offscreen" ]]; then
  echo "run.sh: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); ZENTLOG is a desktop program." >&2
  echo "        Start it from a desktop session, or try: xvfb-run ./run.sh" >&2
  exit 1
fi

scripts/install-deps.sh run
cmake --preset default >/dev/null
cmake --build --preset default

if [[ -z "$workdir" ]]; then
  workdir="$root/run"
  mkdir -p "$workdir"
  for f in demo/*; do
    [[ -e "$f" ]] || continue
    [[ -e "$workdir/$(basename "$f")" ]] || cp -r "$f" "$workdir/"
  done
fi
cd "$workdir"
exec "$root/build/default/src/app/zentlog"
