#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default "$@"

# In CI (or on request) the cores, tools and the tests run again under AddressSanitizer and
# UndefinedBehaviorSanitizer. The long end-to-end and fault runs (labels "long" and "single") spend
# their time waiting out reply limits, restarts and outages: they run in the default preset only,
# where a second run would check nothing more.
if [[ -n "${CI:-}" || "${ZENTLOG_SANITIZE:-}" == 1 ]]; then
  cmake --preset asan
  cmake --build --preset asan
  ctest --preset asan -LE '^(long|single)$' "$@"
fi
