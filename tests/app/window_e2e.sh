#!/usr/bin/env bash
# The program's window end to end on a virtual display: an XYZ and an E57 file are loaded
# through the startup screen (the E57 after reading its header), the tile-selection screen is
# awaited and photographed, and "Close" ends the run: exit code 0, "UI closed by user." and no
# settings.ini (it is written only after an export request).
#
# Usage: window_e2e.sh PROGRAM MAKE_DEMO_CLOUD SCREENSHOT_FOLDER
# Exits 77 (skipped) when xvfb-run, xdotool or ImageMagick is missing.
set -euo pipefail
# shellcheck source=window_e2e_lib.sh
source "$(dirname "$0")/window_e2e_lib.sh"
on_virtual_display "$@"
program=$(realpath "$2")
gen=$(realpath "$3")
shots=$(realpath -m "$4")
mkdir -p "$shots"
work=$(mktemp -d)

# "Close" is the lowest button once the left panel is scrolled to its end.
close_without_export() {
  scroll_left_panel_to_end
  local y
  y=$(lowest_button)
  [ -n "$y" ] || fail "no Close button"
  click 90 "$y" "the program's end" ended
  wait_for_exit
  grep -qx 'UI closed by user.' "$log" || fail "no \"UI closed by user.\""
  [ ! -e "$work/settings.ini" ] || fail "settings.ini was written"
  echo "[window e2e] $name: loaded, tile selection shown, closed with exit code 0"
}

"$gen" --points 200000 --format xyz3 --out "$work/site.xyz" >/dev/null
"$gen" --points 20000 --format e57scans --out "$work/site.e57" >/dev/null

start_window xyz site.xyz
press 135 "$(lowest_button)"  # "Load file", awaited by its effect:
wait_for_tile_selection
close_without_export

start_window e57 site.e57
load_e57
close_without_export
