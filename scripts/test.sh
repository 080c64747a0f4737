#!/usr/bin/env bash
# Installs what is needed, then configures, builds and runs every test in both developer build
# types (RelWithDebInfo, and Debug with the address and undefined-behaviour sanitizers), and once
# more as a packager builds it: plain Release against an installed libE57Format
# (scripts/check-system-e57.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
for preset in default asan; do
  echo "[test] === $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --preset "$preset" -j "$jobs"
done
echo "[test] === release, system libE57Format ==="
JOBS="$jobs" bash scripts/check-system-e57.sh
