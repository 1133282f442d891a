#!/usr/bin/env bash
# Builds the Debian package from a built tree, unpacks it into a throwaway root and checks what a
# user would get from `apt install ./zentlog_<version>_amd64.deb`: the programs run from there
# on the system's Qt alone, the desktop entry is valid, lintian finds no error, the program
# started as the menu starts it settles in its data folder, and the station's service is valid,
# hardened, and has its user made but is not enabled by the installation.
# Usage: check-package.sh BUILD_DIR VERSION
set -euo pipefail

build=${1:?build directory}
version=${2:?project version}
for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate lintian readelf file systemd-analyze; do
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
for needed in libqt6sql6-sqlite qt6-qpa-plugins libqt6core6 libqt6widgets6 libqt6serialport6 adduser; do
  [[ ",$depends," == *[\ ,]${needed}[\ ,\(]* ]] || fail "Depends lacks $needed: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"

# Exactly the program, its station service and four tools: no test, benchmark or helper program.
bins=$(cd "$root/usr/bin" && ls | sort | tr '\n' ' ')
[[ "$bins" == "zentlog zentlog-extract zentlog-history zentlog-poll zentlog-sim zentlog-station " ]] || fail "usr/bin holds: $bins"
for bin in "$root"/usr/bin/*; do
  # A path into the build tree would make the installed program load the build's libraries.
  if readelf -d "$bin" | grep -Eq 'RPATH|RUNPATH'; then fail "$(basename "$bin") carries a run path"; fi
done
for page in zentlog zentlog-station zentlog-sim zentlog-poll zentlog-extract zentlog-history; do
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

# The station's service, where systemd on Debian 12 looks for a package's units, and only there.
unit="$root/lib/systemd/system/zentlog-station.service"
units=$(cd "$root" && find . -name '*.service' | tr '\n' ' ')
[[ "$units" == "./lib/systemd/system/zentlog-station.service " ]] || fail "service files: '$units'"
[[ -e "$root/etc" ]] && fail "the package ships /etc (an enabled service?): $(cd "$root" && find etc)"
if [[ -f "$unit" ]]; then
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  [[ -x "$root${exec_start%% *}" ]] || fail "ExecStart names no program of the package: $exec_start"
  # verify needs ExecStart's program on the system, and the manual page of Documentation=.
  mkdir -p "$work/unit"
  sed "s#^ExecStart=#ExecStart=$root#" "$unit" >"$work/unit/zentlog-station.service"
  if ! out=$(MANPATH="$root/usr/share/man" systemd-analyze verify "$work/unit/zentlog-station.service" 2>&1) \
     || [[ -n "$out" ]]; then
    fail "systemd-analyze verify: $out"
  fi
  out=$(systemd-analyze security --offline=true --threshold=25 "$unit" 2>&1) || fail "exposure above 2.5: $(tail -1 <<<"$out")"
  exposure=$(sed -n 's/.*Overall exposure level for zentlog-station.service: \([0-9.]*\).*/\1/p' <<<"$out")
  [[ -n "$exposure" ]] || fail "no exposure figure: $out"
  echo "service exposure: $exposure (systemd-analyze security)"
else
  fail "no lib/systemd/system/zentlog-station.service"
fi

# The maintainer scripts, run against stand-ins for the user database and systemd: the first
# configure makes the user, its group and folder, and enables or starts nothing; a second one
# (an upgrade) makes nothing again.
dpkg-deb -e "$deb" "$work/control"
for script in postinst prerm postrm; do
  if [[ ! -x "$work/control/$script" ]] || ! sh -n "$work/control/$script"; then fail "$script: missing or not valid sh"; fi
done
home=$(sed -n 's/^home=//p' "$work/control/postinst")
[[ -f "$unit" ]] && ! grep -qx "WorkingDirectory=$home" "$unit" && fail "the postinst makes $home, the service works elsewhere"
stubs="$work/stubs"
mkdir -p "$stubs"
cat >"$stubs/stub" <<'STUB'
#!/bin/sh
name=$(basename "$0")
echo "$name $*" >>"$STUB_LOG"
case "$name" in
  getent) exec grep -qx "$1 $2" "$STUB_DB" ;;
  addgroup) echo "group ${*##* }" >>"$STUB_DB" ;;
  adduser) [ "$#" -gt 3 ] && echo "passwd ${*##* }" >>"$STUB_DB" ;;
esac
exit 0
STUB
chmod +x "$stubs/stub"
for name in getent addgroup adduser chown deb-systemd-helper deb-systemd-invoke systemctl; do
  ln -s stub "$stubs/$name"
done
export STUB_LOG="$work/calls" STUB_DB="$work/db"
printf 'group dialout\n' >"$STUB_DB"
sed "s#^home=.*#home=$work/var/lib/zentlog#" "$work/control/postinst" >"$work/postinst"
mkdir -p "$work/var/lib"
PATH="$stubs:$PATH" sh "$work/postinst" configure "" || fail "postinst configure: exit $?"
calls=$(cat "$STUB_LOG")
[[ "$calls" == *"addgroup --quiet --system zentlog"* ]] || fail "postinst makes no group zentlog: $calls"
[[ "$calls" == *"adduser --quiet --system --ingroup zentlog --home $work/var/lib/zentlog "*" zentlog"* ]] \
  || fail "postinst makes no system user zentlog: $calls"
[[ "$calls" == *"adduser --quiet zentlog dialout"* ]] || fail "postinst leaves zentlog out of dialout: $calls"
[[ $(stat -c %a "$work/var/lib/zentlog" 2>&1) == 750 ]] || fail "folder: $(stat -c %a "$work/var/lib/zentlog" 2>&1)"
grep -Eq ' (enable|start|restart|reenable)( |$)' "$STUB_LOG" && fail "postinst enables or starts the service: $calls"
: >"$STUB_LOG"
PATH="$stubs:$PATH" sh "$work/postinst" configure "${version}-1" || fail "second postinst configure: exit $?"
grep -Eq '^(addgroup|adduser|chown) ' "$STUB_LOG" && fail "second postinst makes again: $(cat "$STUB_LOG")"

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
