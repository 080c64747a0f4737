#!/usr/bin/env bash
# Peak memory of each export route on its own: runs the export benchmarks (bench_export_routes and
# the E57 route programs bench_e57_native_export, bench_photo_export, bench_split_export, where
# built) once per benchmark, each in a fresh process so one route's peak cannot hide another's, and prints the run's time, its
# rates and its peakRSS_MiB counter (getrusage of that process). The optional argument narrows
# the benchmarks by regular expression (default: all). Uses the inputs of
# scripts/make-bench-data.sh in BRINDLEWICK_BENCH_DATA (default build/bench-data) and the tree in
# BRINDLEWICK_BUILD_DIR (default build/default); BRINDLEWICK_BENCH_CPU=<n> pins every run to
# that core with taskset.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${BRINDLEWICK_BUILD_DIR:-build/default}
[ -x "$build_dir/bench/bench_export_routes" ] ||
  { echo "ERROR: [bench-memory] $build_dir/bench/bench_export_routes not found; build it first" >&2; exit 1; }
data=${BRINDLEWICK_BENCH_DATA:-build/bench-data}
data=$(cd "$data" && pwd)

export BRINDLEWICK_BENCH_XYZ3="$data/bench_xyz3.xyz"
export BRINDLEWICK_BENCH_XYZ6="$data/bench_xyz6.xyz"
export BRINDLEWICK_BENCH_LAS="$data/bench_las12-2.las"
export BRINDLEWICK_BENCH_E57="$data/bench_e57.e57"
export BRINDLEWICK_BENCH_E57_SCANS="$data/bench_e57_scans.e57"
export BRINDLEWICK_BENCH_E57_SPHERICAL="$data/bench_e57_spherical.e57"

pin=()
if [ -n "${BRINDLEWICK_BENCH_CPU:-}" ]; then pin=(taskset -c "$BRINDLEWICK_BENCH_CPU"); fi

# The value of one numeric field of the benchmark's JSON run record.
field() { sed -n "s/^ *\"$1\": \([-+0-9.eE]*\),\{0,1\}\$/\1/p" <<<"$2" | head -n 1; }
# Two decimals, or "-" for a counter the benchmark does not have.
seconds() { if [ -n "$1" ]; then printf '%.2f' "$1"; else echo -; fi; }

printf '%-44s %9s %7s %7s %10s %8s %8s %11s\n' benchmark ms GB/s Mpts/s Mwritten/s pass1_s pass2_s peakRSS_MiB
for bench in "$build_dir"/bench/bench_{export_routes,e57_native_export,photo_export,split_export}; do
  [ -x "$bench" ] || continue
  "$bench" --benchmark_list_tests --benchmark_filter="${1:-.}" | while read -r name; do
    json=$("${pin[@]}" "$bench" --benchmark_filter="^${name}\$" --benchmark_format=json 2>/dev/null) || true
    if grep -q '"error_occurred": true' <<<"$json"; then
      printf '%-44s skipped: %s\n' "$name" "$(sed -n 's/^ *"error_message": "\(.*\)",\{0,1\}$/\1/p' <<<"$json")"
      continue
    fi
    printf '%-44s %9.0f %7.3f %7.2f %10.2f %8s %8s %11.1f\n' "$name" "$(field real_time "$json")" \
      "$(field 'GB\/s' "$json")" "$(field 'Mpts\/s' "$json")" "$(field 'Mwritten\/s' "$json")" \
      "$(seconds "$(field pass1_s "$json")")" "$(seconds "$(field pass2_s "$json")")" "$(field peakRSS_MiB "$json")"
  done
done
