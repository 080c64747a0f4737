#!/usr/bin/env bash
# Installs, builds and runs the demo on a generated survey site.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
echo "[demo] nothing to run yet"
