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
job_tool="$build_dir/tools/demo_job"
program="$build_dir/e57_brindlewick"
for tool in "$gen" "$demo" "$job_tool" "$program"; do
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

# The main job: exports run by the program itself, one job file each, as the window runs them.
# Every job cuts the same saved selections (two top selections of the western half, one vertical
# selection of the eastern half's ground) and its outputs are read back and counted.
read -r zmin zmax < <("$job_tool" range)
echo
echo "[demo] === exports with $program --export-job ==="
echo "[demo] selections: north-west and south-west quarters from above; the eastern half's open ground from the side, z $zmin to $zmax m"
out="$data/cut"
rm -rf "$out"
mkdir -p "$out"
failures=0
# run_job INPUT NAME FORMAT MODE CONTENT [overlap]: FORMAT 0 E57, 1 XYZ, 2 LAS; MODE 0 combined,
# 1 per saved selection, 2 per vertical, 3 per top selection; CONTENT 2 keeps the E57 scans'
# photos; overlap lists the north-west quarter in the vertical selection too.
run_job() {
  local input="$data/$1" name=$2 format=$3 mode=$4 content=$5 overlap=${6:-}
  local folder="$out/${1%.*}" ext
  case $format in 1) ext=xyz ;; 2) ext=las ;; *) ext=e57 ;; esac
  mkdir -p "$folder"
  local job="$folder/${name}_job.ini" output="$folder/$name.$ext"
  "$job_tool" write "$input" "$output" "$format" "$mode" "$content" "$job" $overlap
  echo
  echo "[demo] $1 -> $name.$ext"
  local code=0
  "$program" --export-job "$job" >"$folder/$name.log" 2>&1 || code=$?
  grep -E '^\[EXPORT METHOD\]' "$folder/$name.log" | sed 's/^/[demo]   /' || true
  sed -n 's/^State=/[demo]   state: /p; s/^Message=/[demo]   message: /p' "$job.status.ini"
  echo "[demo]   exit code $code"
  if [ "$code" != 0 ] || ! "$job_tool" check "$job"; then
    failures=$((failures + 1))
  fi
}

for las in site_las12_format0.las site_las12_format2.las site_las14_format6.las; do
  run_job "$las" las_copy 2 0 1
  run_job "$las" las_to_e57 0 0 1
  run_job "$las" las_to_xyz 1 0 1
done
run_job site.xyz synthetic_las 2 0 1
run_job site.xyz xyz_ascii 1 0 1
run_job site.xyz combined 0 0 1
run_job site.xyz split 0 1 1
run_job site_scan.e57 synthetic_las 2 0 1
run_job site_scan.e57 xyz_ascii 1 0 1
run_job site_scan.e57 xyz_overlap 1 0 1 overlap
run_job site_scan.e57 combined 0 0 1
run_job site_scan.e57 combined_photos 0 0 2
run_job site_scan.e57 split 0 1 1
run_job site_scan.e57 split_vertical 0 2 1
run_job site_scan.e57 split_top 0 3 1
run_job site_scan.e57 split_photos 0 1 2

end=$(date +%s.%N)
echo
if [ "$failures" != 0 ]; then
  echo "ERROR: [demo] $failures export job(s) failed or did not read back" >&2
  exit 1
fi
echo "[demo] done in $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s after the build; data in $data/"

# Last, the window on the E57 site, in the foreground; it runs in demo-data/, where it keeps its
# settings.ini after an export.
echo
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "[demo] === the window: $program $data/site_scan.e57 $data/window (close it to end the demo) ==="
  program_path=$(realpath "$program")
  (cd "$data" && "$program_path" site_scan.e57 window)
else
  echo "[demo] no display (DISPLAY unset or xdpyinfo failed): the window part was skipped"
fi
