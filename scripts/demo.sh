#!/usr/bin/env bash
# Installs, builds and runs the demo on a generated survey site.
#
# The site is written into demo-data/ once (a rerun keeps files whose size matches what was
# recorded when they were made). BRINDLEWICK_BUILD_DIR=<dir> uses an already built tree instead
# of installing and building the default preset.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -n "${BRINDLEWICK_BUILD_DIR:-}" ]; then
  build_dir=$BRINDLEWICK_BUILD_DIR
else
  build_dir=build/default
  bash scripts/install-deps.sh
  cmake --preset default >/dev/null
  cmake --build --preset default -j "$(nproc)"
fi

gen="$build_dir/tools/make_demo_cloud"
demo="$build_dir/tools/point_io_demo"
cut="$build_dir/tools/export_demo"
for tool in "$gen" "$demo" "$cut"; do
  [ -x "$tool" ] || { echo "ERROR: [demo] $tool was not built" >&2; exit 1; }
done

start=$(date +%s.%N)
data="demo-data"
manifest="$data/manifest.txt"
seed=20240601
mkdir -p "$data"
touch "$manifest"

# make_cloud FILE FORMAT POINTS: generates unless FILE is there with the size recorded for
# exactly these settings.
make_cloud() {
  local file="$data/$1" format=$2 points=$3
  local key="$1 $format $points $seed"
  local recorded
  recorded=$(awk -v k="$key" 'substr($0, 1, length(k) + 1) == k " " { size = $NF } END { print size }' "$manifest")
  if [ -f "$file" ] && [ -n "$recorded" ] && [ "$(stat -c %s "$file")" = "$recorded" ]; then
    echo "[demo] keeping $file ($recorded bytes)"
    return
  fi
  "$gen" --points "$points" --format "$format" --out "$file" --seed "$seed"
  { grep -v "^$1 " "$manifest" || true; echo "$key $(stat -c %s "$file")"; } >"$manifest.new"
  mv "$manifest.new" "$manifest"
}

make_cloud site.xyz xyz7 2000000
make_cloud site_mixed.xyz xyzmixed 500000
make_cloud site_las12_format0.las las12-0 1000000
make_cloud site_las12_format2.las las12-2 1000000
make_cloud site_las14_format6.las las14-6 1000000
make_cloud site_scan.e57 e57scans 1000000

echo
echo "[demo] === $data/site.xyz: 2,000,000 points, x y z r g b intensity, 5 m tiles ==="
"$demo" "$data/site.xyz" 5.0 2000
echo
echo "[demo] === $data/site_mixed.xyz: all four line variants, a header line and bad lines, 10 m tiles ==="
"$demo" "$data/site_mixed.xyz" 10.0 500

# The export routes, each cutting the same selection (west half from above, east half's ground
# from the side) out of one input and reading its output back.
out="$data/cut"
mkdir -p "$out"
for input in site_las12_format2.las site_las14_format6.las site.xyz site_scan.e57; do
  echo
  echo "[demo] === export routes on $data/$input -> $out/ ==="
  "$cut" "$data/$input" "$out"
done

end=$(date +%s.%N)
echo
echo "[demo] done in $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s after the build; data in $data/"
