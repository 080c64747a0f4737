#!/usr/bin/env bash
# The whole interactive road on a virtual display, as a user takes it: a site E57 of four scans
# with a photo each is loaded; three tiles are Ctrl-clicked in the top view and saved as a top
# selection, the vertical view and the 3D preview are photographed, the selection is exported
# to E57; "Continue with new selection", three other tiles, saved, exported to LAS; "Close".
# Then the exit code, the console report, settings.ini, and both outputs read back by our own
# readers: each holds exactly what its clicked tiles keep of the input.
#
# Usage: window_export_e2e.sh PROGRAM MAKE_DEMO_CLOUD DEMO_JOB SCREENSHOT_FOLDER
# Exits 77 (skipped) when xvfb-run, xdotool or ImageMagick is missing.
set -euo pipefail
# shellcheck source=window_e2e_lib.sh
source "$(dirname "$0")/window_e2e_lib.sh"
on_virtual_display "$@"
program=$(realpath "$2")
gen=$(realpath "$3")
demo_job=$(realpath "$4")
shots=$(realpath -m "$5")
mkdir -p "$shots"
work=$(mktemp -d)

# The demo site is 60 m square: at the default 5 m tiles the top view holds 12 x 12 cells.
readonly cells=12
readonly right_panel=516

# grid_box: "X Y W H" of the top view's cells in the last screenshot, the bounding box of the
# cells' fill colour in the right panel.
grid_box() {
  convert "$work/now.png" -crop "2000x4000+$right_panel+0" +repage \
    -fill black +opaque "rgb(26,26,26)" -fill white -opaque "rgb(26,26,26)" -format "%@" info: |
    awk -F'[x+]' -v x0="$right_panel" '$1 >= 200 && $2 >= 200 { print $3 + x0, $4, $1, $2 }'
}
top_grid() {
  shot_now
  identify -format '%wx%h\n' "$work/now.png"
  grid_box | grep .
}
# read_top_view: $gx $gy $gw $gh of the grid once it holds still (the canvas follows the
# window's automatic height).
read_top_view() {
  steady "the top view's grid" top_grid
  read -r gx gy gw gh < <(sed -n 2p <<<"$reading")
}

# cell_centre "COLUMN ROW": the window position of a cell, its column from the west, its row
# from the north.
cell_centre() {
  local c r
  read -r c r <<<"$1"
  echo $((gx + (2 * c + 1) * gw / (2 * cells))) $((gy + (2 * r + 1) * gh / (2 * cells)))
}

# selected_cells: "COLUMN ROW" of each framed cell in the last screenshot. A selected cell's
# white frame is about 7 % of its pixels; nothing else in the grid is pure white.
selected_cells() {
  convert "$work/now.png" -crop "${gw}x${gh}+${gx}+${gy}" +repage \
    -fill black +opaque "rgb(255,255,255)" -filter box -resize "${cells}x${cells}!" -depth 8 txt:- |
    awk -F'[ :,()]+' 'NR > 1 && $3 >= 8 { print $1, $2 }' | LC_ALL=C sort
}
selection_changed_from() {
  shot_now
  [ "$(selected_cells)" != "$1" ]
}

# select_tiles "C R" ...: Ctrl + left click on cells until exactly these are framed. Each click
# toggles one cell and waits for the frames to change; a click the moving canvas put on
# another cell, or outside the grid, is mended by the next round.
select_tiles() {
  local want have cell x y clicks=0
  want=$(printf '%s\n' "$@" | LC_ALL=C sort)
  while :; do
    read_top_view
    have=$(selected_cells)
    [ "$have" != "$want" ] || break
    [ $((clicks += 1)) -le $((2 * $# + 4)) ] ||
      fail "the top view frames cells [${have//$'\n'/; }], not [${want//$'\n'/; }]"
    cell=$(LC_ALL=C comm -3 <(grep . <<<"$want") <(grep . <<<"$have" || true) | awk 'NR == 1 { gsub("\t", ""); print }')
    read -r x y < <(cell_centre "$cell")
    ctrl_click "$x" "$y" selection_changed_from "$have" ||
      echo "[window export e2e] no frame changed in $patience s after a Ctrl-click on cell $cell" >&2
  done
  cp "$work/now.png" "$shots/$name-top-selected-$export_number.png"
}

# The export row: the left-panel row of equal buttons wider than 100 px ("Export XYZ+RGB+ph"
# may be disabled); "Y X" with X the centre of its second, "Export XYZ+RGB".
export_row() { equal_row; }
export_row_shown() {
  scroll_left_panel_to_end
  export_row >/dev/null
}
# After an export: "Continue with new selection" (wider than any other button of the panel)
# and "Close" beside it in the last screenshot; prints "Y X_CONTINUE X_CLOSE".
continue_row() {
  local top bottom rows
  rows=$(column_runs 19)
  while read -r top bottom; do
    row_runs $((top + 2)) 0 510 | awk -v y=$(((top + bottom + 1) / 2)) '
      { n++; if (n == 1 && $2 - $1 > 250) a = int(($1 + $2) / 2); if (n == 2) b = int(($1 + $2) / 2) }
      END { if (a && b) { print y, a, b; exit 0 } exit 1 }' && return
  done <<<"$rows"
  return 1
}
continue_row_shown() {
  scroll_left_panel_to_end
  continue_row >/dev/null
}
continue_row_gone() {
  shot_now
  ! continue_row >/dev/null
}

# The radio buttons above the export row: a 19 px circle, 4 px, the label, 8 px to the next.
radio_x() {
  case $1 in
    E57) echo 26 ;;
    LAS) echo $((16 + 19 + 4 + 7 * 3 + 8 + 19 + 4 + 7 * 9 + 8 + 9)) ;;
  esac
}
# format_radio_checked X: in a new screenshot, the radio at X in the row above the export
# buttons, found again (a format's own notes can move the rows), shows its dot.
format_radio_checked() {
  local ey ex
  shot_now
  read -r ey ex < <(export_row) || return 1
  convert "$work/now.png" -crop "1x1+$1+$((ey - 23))" +repage txt:- |
    awk -F'[ :,()]+' 'NR == 2 { exit !($5 >= 200 && $5 > $3 + 100) }'
}

# tab N: "X Y" of the Nth button of the right panel's first row ("Top view", "Vertical view",
# "3D preview") in the last screenshot.
tab() {
  local top bottom
  read -r top bottom < <(column_runs $((right_panel + 14))) || return 1
  row_runs $((top + 2)) "$right_panel" 1100 |
    awk -v y=$(((top + bottom + 1) / 2)) -v n="$1" 'NR == n { print int(($1 + $2) / 2), y }'
}
right_panel_changed() {
  shot_now
  local pixels
  pixels=$(compare -metric AE "$work/before.png[584x600+$right_panel+250]" \
    "$work/now.png[584x600+$right_panel+250]" null: 2>&1 || true)
  [ "${pixels%% *}" -gt 2000 ]
}
show_tab() {
  local x y
  settle
  cp "$work/now.png" "$work/before.png"
  read -r x y < <(tab "$1") || fail "no view tab $1"
  click "$x" "$y" "the $2 tab drawn" right_panel_changed
  cp "$work/now.png" "$shots/$name-$2.png"
}

exports_ended() { [ "$(grep -c '^\[EXPORT HELPER\] process exited' "$log")" -ge "$1" ]; }

save_button_disabled() { ! label_button_shown "Save top view selection"; }
# save_selection: "Save top view selection", done when it is disabled (the buffer emptied),
# then the export buttons enabled.
save_selection() {
  local y
  scroll_left_panel_to_end
  y=$(label_button "Save top view selection") || fail "no enabled \"Save top view selection\""
  click 90 "$y" "\"Save top view selection\" disabled" save_button_disabled
  until_true "$patience" export_row_shown || fail "the export buttons stayed disabled after the save"
  cp "$work/now.png" "$shots/$name-saved-$export_number.png"
}

# export_to FORMAT: chooses the output format, "Export XYZ+RGB", waits for the helper's end on
# the console and then for "Continue with new selection".
export_to() {
  local ey ex x
  x=$(radio_x "$1")
  scroll_left_panel_to_end
  read -r ey ex < <(export_row) || fail "no export row"
  click "$x" $((ey - 23)) "the $1 output format chosen" format_radio_checked "$x"
  scroll_left_panel_to_end
  read -r ey ex < <(export_row) || fail "the export row is gone"
  press "$ex" "$ey"
  until_true 300 exports_ended "$export_number" || fail "export $export_number did not end within 300 s"
  grep '^\[EXPORT HELPER\] process exited' "$log" | sed -n "${export_number}p" |
    grep -q ' | exitCode=0 | state=Success' || fail "export $export_number did not succeed"
  until_true "$patience" continue_row_shown ||
    fail "no \"Continue with new selection\" after export $export_number"
  cp "$work/now.png" "$shots/$name-exported-$export_number.png"
}

# check_export PROJECT FILE "C R"...: the job the window wrote into out/PROJECT names exactly
# the clicked cells' tiles (the site's south-west tile is 100000,1080000), and its output FILE
# holds the points that selection keeps of the input, read back by our own readers.
check_export() {
  local project=$1 file=$2 cell c r
  local folder="$work/out/$project"
  shift 2
  local job="$folder/${file%_cut.*}_export_job.ini"
  [ -f "$folder/$file" ] || fail "no $project/$file"
  [ -f "$job" ] || fail "no export job in $project"
  local wanted=""
  for cell in "$@"; do
    read -r c r <<<"$cell"
    wanted+="$((100000 + c)),$((1080000 + cells - 1 - r))"$'\n'
  done
  [ "$(awk -F'[=,]' '/^\[/ { on = ($0 == "[SelectedCoarseTiles]") }
                     on && /^Tile[0-9]+=/ { print $2 "," $3 }' "$job" | sort)" = \
    "$(printf %s "$wanted" | sort)" ] || fail "the job in $project has not the clicked tiles"
  "$demo_job" check "$job" | sed "s|^\[demo\]  |[window export e2e] $project:|" ||
    fail "$project/$file does not hold what the selection keeps"
}

phase() { echo "[window export e2e] ${SECONDS} s: $*"; }

"$gen" --points 131072 --format e57scans --out "$work/site.e57" >/dev/null

start_window export site.e57 out
load_e57
read_top_view
phase "tile selection"

# The first selection in the north-west, photographed in every view while it is highlighted,
# exported to E57.
first_tiles=("2 2" "3 2" "2 3")
second_tiles=("8 7" "9 7" "8 8")
export_number=1
select_tiles "${first_tiles[@]}"
save_selection
phase "first selection saved"
show_tab 2 vertical-view
show_tab 3 3d-preview
show_tab 1 top-view
read_top_view
phase "views photographed"
export_to E57
phase "exported to E57"

# The second in the south-east, to LAS, after "Continue with new selection".
read -r y x_continue x_close < <(continue_row)
click "$x_continue" "$y" "\"Continue with new selection\" gone" continue_row_gone
! export_row_shown || fail "the saved selection was kept after \"Continue with new selection\""
export_number=2
select_tiles "${second_tiles[@]}"
save_selection
export_to LAS
phase "exported to LAS"
read -r y x_continue x_close < <(continue_row)
click "$x_close" "$y" "the program's end" ended
wait_for_exit
# The report after the window comes after the helpers' lines.
awk '/^\[EXPORT HELPER\] process exited/ { e = NR } /^Reading file: / { r = NR }
     /^\[PREVIEW\] mode=/ { p = NR } END { exit !(e < r && r < p) }' "$log" ||
  fail "no \"Reading file: \" and \"[PREVIEW] mode=\" report after the exports"
settings="$work/settings.ini"
[ -f "$settings" ] || fail "no settings.ini after the exports"
grep -qx '\[Paths\]' "$settings" || fail "settings.ini has no [Paths]"
grep -qx 'InputE57Path=site.e57' "$settings" || fail "settings.ini has not the input path"
grep -qx 'OutputFolder=out' "$settings" || fail "settings.ini has not the output folder"
check_export "Project 1" site_cut.e57 "${first_tiles[@]}"
check_export "Project 2" site_cut.las "${second_tiles[@]}"
echo "[window export e2e] two exports from the window, closed with exit code 0"
