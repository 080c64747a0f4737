#!/usr/bin/env bash
# The program's window end to end on a virtual display: an XYZ and an E57 file are loaded
# through the startup screen (the E57 after reading its header), the tile-selection screen is
# awaited and photographed, and "Close" ends the run: exit code 0, "UI closed by user." and no
# settings.ini (it is written only after an export request).
#
# Usage: window_e2e.sh PROGRAM MAKE_DEMO_CLOUD SCREENSHOT_FOLDER
# Exits 77 (skipped) when xvfb-run, xdotool or ImageMagick is missing.
#
# Buttons are found in screenshots, not by position: along one pixel column through the left
# edge of the left panel's buttons, a button is a run of at least 12 rows of the style's blue
# (disabled buttons are dimmer and do not count).
set -euo pipefail

if [ "${1:-}" != --on-display ]; then
  for tool in xvfb-run xdotool import compare convert; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  exec xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" --on-display "$@"
fi
program=$(realpath "$2")
gen=$(realpath "$3")
shots=$(realpath -m "$4")
mkdir -p "$shots"

work=$(mktemp -d)
pid="" wid="" name="" log=""
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL [$name]: $*" >&2
  [ -z "$wid" ] || import -window "$wid" "$shots/$name-failure.png" 2>/dev/null || true
  [ -z "$log" ] || tail -n 20 "$log" >&2
  exit 1
}

# until SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds; false after SECONDS.
until_true() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

shot() { import -window "$wid" "$1"; }

click() {
  xdotool mousemove --window "$wid" "$1" "$2"
  sleep 0.2
  xdotool mousedown 1
  sleep 0.1
  xdotool mouseup 1
  sleep 0.3
}

# buttons X: the centre rows of the buttons crossing column X of the window, top to bottom.
buttons() {
  shot "$work/now.png"
  convert "$work/now.png" -crop "1x4000+$1+0" +repage txt:- | awk -F'[ :,()]+' '
    BEGIN { start = -1 }
    NR > 1 {
      blue = ($5 >= 85 && $5 > $3 + 50)
      if (blue && start < 0) start = $2
      if (!blue && start >= 0) { if ($2 - start >= 12) print int((start + $2) / 2); start = -1 }
    }'
}
button_count_at_least() { [ "$(buttons 19 | wc -l)" -ge "$1" ]; }
nth_button() { buttons 19 | sed -n "$1p"; }
lowest_button() { buttons 19 | tail -n 1; }

# The left panel's first line differs from the startup screen's.
left_heading_changed() {
  shot "$work/now.png"
  local pixels
  pixels=$(compare -metric AE "$work/startup.png[480x30+0+0]" "$work/now.png[480x30+0+0]" null: 2>&1 || true)
  [ "${pixels%% *}" -gt 100 ]
}

built() { grep -q '^\[PREVIEW CACHE\] built' "$log"; }
ended() { ! kill -0 "$pid" 2>/dev/null; }

start_window() {
  name=$1
  log="$work/$name.log"
  (cd "$work" && exec env LIBGL_ALWAYS_SOFTWARE=1 "$program" "$2" out) >"$log" 2>&1 &
  pid=$!
  wid=$(timeout 20 xdotool search --sync --name '^Haldmoor/BRINDLEWICK_E57_V1_1 beta$' | head -n 1) ||
    fail "the window did not appear"
  until_true 20 button_count_at_least 1 || fail "the startup screen was not drawn"
  shot "$work/startup.png"
  cp "$work/startup.png" "$shots/$name-startup.png"
}

# After the load: the build's end, the switch, then "Close" (the lowest button once the left
# panel is scrolled to its end) and the checks.
select_and_close() {
  until_true 30 built || fail "the preview build did not finish"
  until_true 10 left_heading_changed || fail "the tile-selection screen did not appear"
  sleep 0.5
  shot "$shots/$name-tile-selection.png"
  xdotool mousemove --window "$wid" 250 400
  for _ in $(seq 30); do xdotool click 5; done
  sleep 0.5
  local y
  y=$(lowest_button)
  [ -n "$y" ] || fail "no Close button"
  click 90 "$y"
  until_true 20 ended || fail "the window did not close"
  local code=0
  wait "$pid" || code=$?
  pid="" wid=""
  [ "$code" = 0 ] || fail "exit code $code"
  grep -qx 'UI closed by user.' "$log" || fail "no \"UI closed by user.\""
  [ ! -e "$work/settings.ini" ] || fail "settings.ini was written"
  echo "[window e2e] $name: loaded, tile selection shown, closed with exit code 0"
}

"$gen" --points 200000 --format xyz3 --out "$work/site.xyz" >/dev/null
"$gen" --points 20000 --format e57scans --out "$work/site.e57" >/dev/null

start_window xyz site.xyz
click 135 "$(lowest_button)"  # "Load file"
select_and_close

# E57: open "E57 header / XML metadata preview", read the header, close the panel again, and
# once the load buttons are enabled, "Exact preview" (the middle one of their row).
start_window e57 site.e57
header=$(nth_button 1)
click 150 "$header"
until_true 10 button_count_at_least 2 || fail "no \"Read E57 header + metadata\""
click 60 "$(nth_button 2)"
sleep 1
shot "$shots/$name-header.png"
click 150 "$header"
until_true 20 button_count_at_least 2 || fail "the load buttons stayed disabled"
click 258 "$(lowest_button)"
select_and_close
