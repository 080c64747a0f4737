#!/usr/bin/env bash
# Builds the default preset, makes the benchmark inputs (scripts/make-bench-data.sh), warms the
# page cache and runs every bench_* program with BRINDLEWICK_BENCH_XYZ3, _XYZ6, _XYZ7, _LAS and
# _E57 pointing at them. Arguments are passed to each benchmark (e.g. --benchmark_filter=Xyz).
# BRINDLEWICK_BENCH_DATA sets the data folder (default build/bench-data);
# BRINDLEWICK_BUILD_DIR=<dir> uses an already built tree instead of building the default preset.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -n "${BRINDLEWICK_BUILD_DIR:-}" ]; then
  build_dir=$BRINDLEWICK_BUILD_DIR
else
  build_dir=build/default
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$(nproc)"
fi
export BRINDLEWICK_BUILD_DIR=$build_dir

data=${BRINDLEWICK_BENCH_DATA:-build/bench-data}
bash scripts/make-bench-data.sh "$data"
data=$(cd "$data" && pwd)

export BRINDLEWICK_BENCH_XYZ3="$data/bench_xyz3.xyz"
export BRINDLEWICK_BENCH_XYZ6="$data/bench_xyz6.xyz"
export BRINDLEWICK_BENCH_XYZ7="$data/bench_xyz7.xyz"
export BRINDLEWICK_BENCH_LAS="$data/bench_las12-2.las"
export BRINDLEWICK_BENCH_E57="$data/bench_e57.e57"

echo "[bench] warming the page cache"
cat "$BRINDLEWICK_BENCH_XYZ3" "$BRINDLEWICK_BENCH_XYZ6" "$BRINDLEWICK_BENCH_XYZ7" "$BRINDLEWICK_BENCH_LAS" \
  "$BRINDLEWICK_BENCH_E57" >/dev/null

found=0
for bench in "$build_dir"/bench/bench_*; do
  if [ ! -f "$bench" ] || [ ! -x "$bench" ]; then continue; fi
  found=1
  echo "[bench] === $(basename "$bench") ==="
  "$bench" "$@"
done
[ "$found" = 1 ] || echo "[bench] no benchmark programs in $build_dir/bench"
