#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default "$@"

# In CI (or on request) the cores, tools and every test run again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
if [[ -n "${CI:-}" || "${ZENTLOG_SANITIZE:-}" == 1 ]]; then
  cmake --preset asan
  cmake --build --preset asan
  ctest --preset asan "$@"
fi
