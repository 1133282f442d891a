#!/usr/bin/env bash
# Builds the Debian package from a built tree, unpacks it into a throwaway root and checks what a
# user would get from `apt install ./zentlog_<version>_amd64.deb`: the programs run from there
# on the system's Qt alone, the desktop entry is valid, lintian finds no error, and the program
# started as the menu starts it settles in its data folder.
# Usage: check-package.sh BUILD_DIR VERSION
set -euo pipefail

build=${1:?build directory}
version=${2:?project version}
for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate lintian readelf file; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
program_pid=""
cleanup() {
  if [[ -n "$program_pid" ]]; then kill "$program_pid" 2>/dev/null || true; wait "$program_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The package, into a folder of its own so that an older package in the build tree cannot pass
# for this one.
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
shopt -s nullglob
debs=("$work"/out/*.deb)
[[ ${#debs[@]} -eq 1 ]] || { ls -l "$work/out"; echo "FAIL: expected one package"; exit 1; }
deb=${debs[0]}
[[ $(basename "$deb") == zentlog_${version}-1_amd64.deb ]] || fail "package name $(basename "$deb")"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
[[ $(dpkg-deb -f "$deb" Version) == "${version}-1" ]] || fail "package version $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6sql6-sqlite qt6-qpa-plugins libqt6core6 libqt6widgets6 libqt6serialport6; do
  [[ ",$depends," == *[\ ,]${needed}[\ ,\(]* ]] || fail "Depends lacks $needed: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"

# Exactly the program and its four tools: no test, benchmark or helper program.
bins=$(cd "$root/usr/bin" && ls | sort | tr '\n' ' ')
[[ "$bins" == "zentlog zentlog-extract zentlog-history zentlog-poll zentlog-sim " ]] || fail "usr/bin holds: $bins"
for bin in "$root"/usr/bin/*; do
  # A path into the build tree would make the installed program load the build's libraries.
  if readelf -d "$bin" | grep -Eq 'RPATH|RUNPATH'; then fail "$(basename "$bin") carries a run path"; fi
done
for page in zentlog zentlog-sim zentlog-poll zentlog-extract zentlog-history; do
  gz="$root/usr/share/man/man1/$page.1.gz"
  if [[ ! -f "$gz" ]] || ! gzip -t "$gz"; then fail "manual page $page.1.gz"; continue; fi
  # The title line carries the project's version, filled in by the build.
  zcat "$gz" | head -1 | grep -q "^\.TH .* \"zentlog $version\"" || fail "$page.1.gz: title line $(zcat "$gz" | head -1)"
done
for size in 16 32 48 64 128 256; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/zentlog.png"
  file -b "$png" 2>/dev/null | grep -q "PNG image data, $size x $size," || fail "icon ${size}x${size}: $(file -b "$png" 2>&1)"
done
[[ -f "$root/usr/share/icons/hicolor/scalable/apps/zentlog.svg" ]] || fail "scalable icon"

# The tools run from the unpacked root with the system's Qt.
run() { env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen HOME="$work/home" "$@"; }
mkdir -p "$work/home"
out=$(run "$root/usr/bin/zentlog-poll" --help 2>&1) || fail "zentlog-poll --help: exit $?: $out"
[[ "$out" == *"usage: zentlog-poll"* ]] || fail "zentlog-poll --help said: $out"
out=$(run "$root/usr/bin/zentlog-extract" --help 2>&1) || fail "zentlog-extract --help: exit $?: $out"
[[ "$out" == *"--output-dir"* ]] || fail "zentlog-extract --help said: $out"
out=$(run "$root/usr/bin/zentlog" --version 2>/dev/null) || fail "zentlog --version: exit $?"
[[ "$out" == "ZENTLOG $version" ]] || fail "zentlog --version said: $out"

desktop-file-validate "$root/usr/share/applications/zentlog.desktop" || fail "desktop entry"
grep -qx 'Exec=zentlog' "$root/usr/share/applications/zentlog.desktop" || fail "desktop entry: Exec"
grep -qx 'Icon=zentlog' "$root/usr/share/applications/zentlog.desktop" || fail "desktop entry: Icon"

# lintian: errors fail, warnings are listed.
lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 || true
grep -v 'running with root privileges' "$work/lintian.log" || true
grep -q '^E: ' "$work/lintian.log" && fail "lintian reports errors"
grep -q '^[EW]: ' "$work/lintian.log" || echo "lintian: no error, no warning"

# Started from the menu: the current directory is "/", and the program moves to its data folder.
home="$work/menu-home"
mkdir -p "$home"
(cd / && exec env -u LD_LIBRARY_PATH -u XDG_DATA_HOME -u ZENTLOG_WORKDIR QT_QPA_PLATFORM=offscreen HOME="$home" \
   "$root/usr/bin/zentlog" >"$work/program.log" 2>&1) &
program_pid=$!
wanted="$home/.local/share/zentlog"
cwd=""
for _ in $(seq 600); do
  cwd=$(readlink "/proc/$program_pid/cwd" 2>/dev/null || true)
  [[ "$cwd" == "$wanted" ]] && break
  kill -0 "$program_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ "$cwd" != "$wanted" ]]; then
  fail "the installed program works in '$cwd', not in $wanted"
  cat "$work/program.log"
fi
kill "$program_pid" 2>/dev/null || true
wait "$program_pid" 2>/dev/null || true
program_pid=""

if [[ $failures -ne 0 ]]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "package checks passed"
