#!/usr/bin/env bash
# Writes the benchmark inputs, each at least 1 GiB: bench_xyz3.xyz, bench_xyz6.xyz,
# bench_xyz7.xyz, bench_las12-2.las, bench_e57.e57 (double xyz, 8-bit colour), bench_e57_scans.e57
# (eight posed scans: double xyz, 8-bit colour, float intensity, a photo each) and
# bench_e57_spherical.e57 (the same scans as range and angles only), into the folder given
# (default build/bench-data).
# Files already there at full size are kept. Needs make_demo_cloud from the build
# (build/default, or BRINDLEWICK_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-build/bench-data}
build_dir=${BRINDLEWICK_BUILD_DIR:-build/default}
gen="$build_dir/tools/make_demo_cloud"
[ -x "$gen" ] || { echo "ERROR: [bench-data] $gen not found; build first" >&2; exit 1; }

min_bytes=$((1 << 30))
seed=7
mkdir -p "$out"

size_of() { stat -c %s "$1"; }

# XYZ lines vary in length with their colour and intensity values (and E57 packets with how well
# the values pack), so the point count comes from the mean bytes per point of a sample drawn with
# the same seed, plus 2 % to spare; the result is checked afterwards. LAS records have a fixed
# length.
points_for() {
  local format=$1
  case $format in
    las12-2) echo $(((min_bytes - 227 + 25) / 26)) ;;
    *)
      local sample="$out/.sample.$format" n=200000
      "$gen" --points "$n" --format "$format" --out "$sample" --seed "$seed" >/dev/null
      local bytes
      bytes=$(size_of "$sample")
      rm -f "$sample"
      echo $((min_bytes * 102 * n / (100 * bytes) + 1))
      ;;
  esac
}

make_file() {
  local name=$1 format=$2
  local file="$out/$name"
  if [ -f "$file" ] && [ "$(size_of "$file")" -ge "$min_bytes" ]; then
    echo "[bench-data] keeping $file ($(size_of "$file") bytes)"
    return
  fi
  local points
  points=$(points_for "$format")
  "$gen" --points "$points" --format "$format" --out "$file" --seed "$seed"
  if [ "$(size_of "$file")" -lt "$min_bytes" ]; then
    echo "ERROR: [bench-data] $file came out smaller than $min_bytes bytes" >&2
    exit 1
  fi
}

make_file bench_xyz3.xyz xyz3
make_file bench_xyz6.xyz xyz6
make_file bench_xyz7.xyz xyz7
make_file bench_las12-2.las las12-2
make_file bench_e57.e57 e57rgb
make_file bench_e57_scans.e57 e57scans
make_file bench_e57_spherical.e57 e57spherical
