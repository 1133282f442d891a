#!/usr/bin/env bash
# Installs the Debian packages the project needs, and only those that are missing.
# Usage: scripts/install-deps.sh [run|fuzz]   ("run" adds what starting the program needs,
#                                             "fuzz" what the fuzz preset needs: clang and libFuzzer)
set -euo pipefail

# qt6-charts-dev brings the run-time library libqt6charts6 (with libqt6opengl6 and
# libqt6openglwidgets6); its CMake files also need Qt6OpenGL's, which on Debian 12 come with
# libqt6opengl6-dev and are not pulled in by it.

packages=(
  g++ cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libqt6serialport6
  libgtest-dev libgmock-dev
  libqt6sql6-sqlite libsqlite3-dev sqlite3
  qt6-charts-dev libqt6opengl6-dev
  libmodbus-dev socat time
  # the station service's readiness and watchdog notifications
  libsystemd-dev systemd
  # publishing to an MQTT broker; the broker, its clients and openssl only for the tests
  libmosquitto-dev libssl-dev libprotobuf-dev protobuf-compiler mosquitto mosquitto-clients openssl
  fonts-dejavu-core
  # the Debian package and its check (tests/package)
  dpkg-dev lintian desktop-file-utils file binutils
)
if [[ "${1:-}" == "run" ]]; then
  packages+=(qt6-wayland)
fi
if [[ "${1:-}" == "fuzz" ]]; then
  packages+=(clang libclang-rt-14-dev llvm)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null; then
    sudo_cmd=(sudo)
  else
    echo "These packages are missing and this user cannot install them: ${missing[*]}" >&2
    echo "Run as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
