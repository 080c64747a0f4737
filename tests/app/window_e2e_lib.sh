# shellcheck shell=bash
# Helpers of the window tests on a virtual display (sourced, not run).
#
# The caller sets $program, $shots (screenshot folder) and $work (scratch folder, removed at
# exit), then uses start_window, which sets $pid, $wid, $name and $log.
#
# Buttons are found in screenshots, not by position: along one pixel column through the left
# edge of a panel's buttons, a button is a run of at least 12 rows of the style's blue
# (disabled buttons are dimmer and do not count). Along one row near a button's top, its width
# tells which label it has: the built-in font is 7 px a character and a sized-to-label button
# is 8 px wider than its label.

# Leaves with 77 (skipped) when a tool is missing; else runs the calling script again under a
# virtual display of 1600 x 1000.
on_virtual_display() {
  if [ "${1:-}" = --on-display ]; then return; fi
  for tool in xvfb-run xdotool import compare convert; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
  exec xvfb-run -a -s "-screen 0 1600x1000x24" bash "$0" --on-display "$@"
}

pid="" wid="" name="" log="" work=""
cleanup() {
  [ -z "$pid" ] || kill "$pid" 2>/dev/null || true
  [ -z "$work" ] || rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL [$name]: $*" >&2
  [ -z "$wid" ] || import -window "$wid" "$shots/$name-failure.png" 2>/dev/null || true
  [ -z "$log" ] || tail -n 20 "$log" >&2
  exit 1
}

# until_true SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds; false after SECONDS.
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

ctrl_click() {
  xdotool mousemove --window "$wid" "$1" "$2"
  sleep 0.2
  xdotool keydown ctrl
  sleep 0.1
  click "$1" "$2"
  xdotool keyup ctrl
}

# blue_runs: reads ImageMagick's txt: of one pixel line and prints "FIRST LAST" of every run of
# at least MIN pixels of enabled-button blue; POS is the field of the position along the line.
blue_runs() {
  awk -F'[ :,()]+' -v pos="$1" -v min="$2" '
    BEGIN { start = -1 }
    NR > 1 {
      blue = ($5 >= 85 && $5 > $3 + 50)
      if (blue && start < 0) start = $pos
      if (!blue && start >= 0) { if ($pos - start >= min) print start, $pos - 1; start = -1 }
      last = $pos
    }
    END { if (start >= 0 && last + 1 - start >= min) print start, last }'
}

# button_rows X: "TOP BOTTOM" of the buttons crossing column X of a new screenshot.
button_rows() {
  shot "$work/now.png"
  convert "$work/now.png" -crop "1x4000+$1+0" +repage txt:- | blue_runs 2 12
}

# buttons X: the centre rows of the buttons crossing column X, top to bottom.
buttons() { button_rows "$1" | awk '{ print int(($1 + $2 + 1) / 2) }'; }
button_count_at_least() { [ "$(buttons 19 | wc -l)" -ge "$1" ]; }
nth_button() { buttons 19 | sed -n "$1p"; }
lowest_button() { buttons 19 | tail -n 1; }

# row_runs Y X0 X1: "FIRST LAST" of the buttons along row Y between X0 and X1 of the last
# screenshot.
row_runs() {
  convert "$work/now.png" -crop "$(($3 - $2))x1+$2+$1" +repage txt:- | blue_runs 1 8 |
    awk -v x0="$2" '{ print $1 + x0, $2 + x0 }'
}

# label_button LABEL: the centre row of the enabled left-panel button sized to LABEL.
label_button() {
  local want=$((7 * ${#1} + 8)) rows top bottom first last
  rows=$(button_rows 19)
  while read -r top bottom; do
    read -r first last < <(row_runs $((top + 2)) 0 510) || continue
    if [ "$first" -le 19 ] && [ $((last - first + 1 - want)) -ge -2 ] &&
      [ $((last - first + 1 - want)) -le 2 ]; then
      echo $(((top + bottom + 1) / 2))
      return
    fi
  done <<<"$rows"
  return 1
}

# scroll_left_panel_to_end: the left panel's end (its action area and stage lines) in view.
scroll_left_panel_to_end() {
  xdotool mousemove --window "$wid" 250 400
  xdotool click --repeat 30 --delay 5 5
  sleep 0.3
}

# The left panel's first line differs from the startup screen's.
left_heading_changed() {
  shot "$work/now.png"
  local pixels
  pixels=$(compare -metric AE "$work/startup.png[480x30+0+0]" "$work/now.png[480x30+0+0]" null: 2>&1 || true)
  [ "${pixels%% *}" -gt 100 ]
}

built() { grep -q '^\[PREVIEW CACHE\] built' "$log"; }
ended() { ! kill -0 "$pid" 2>/dev/null; }

# start_window NAME INPUT [OUTPUT]: the program on INPUT in $work, its console in $log.
start_window() {
  name=$1
  log="$work/$name.log"
  (cd "$work" && exec env LIBGL_ALWAYS_SOFTWARE=1 "$program" "$2" "${3:-out}") >"$log" 2>&1 &
  pid=$!
  wid=$(timeout 20 xdotool search --sync --name '^Haldmoor/BRINDLEWICK_E57_V1_1 beta$' | head -n 1) ||
    fail "the window did not appear"
  until_true 20 button_count_at_least 1 || fail "the startup screen was not drawn"
  shot "$work/startup.png"
  cp "$work/startup.png" "$shots/$name-startup.png"
}

# load_e57: opens "E57 header / XML metadata preview", reads the header, closes the panel again
# and, once the load buttons are enabled, clicks "Exact preview" (the middle one of their row);
# then waits for the build and the tile-selection screen.
load_e57() {
  local header
  header=$(nth_button 1)
  click 150 "$header"
  until_true 10 button_count_at_least 2 || fail "no \"Read E57 header + metadata\""
  click 60 "$(nth_button 2)"
  sleep 1
  shot "$shots/$name-header.png"
  click 150 "$header"
  until_true 20 button_count_at_least 2 || fail "the load buttons stayed disabled"
  click 258 "$(lowest_button)"
  wait_for_tile_selection
}

wait_for_tile_selection() {
  until_true 30 built || fail "the preview build did not finish"
  until_true 10 left_heading_changed || fail "the tile-selection screen did not appear"
  sleep 0.5
  shot "$shots/$name-tile-selection.png"
}

# wait_for_exit: the window gone within 20 s and the program's exit code 0.
wait_for_exit() {
  until_true 20 ended || fail "the window did not close"
  local code=0
  wait "$pid" || code=$?
  pid="" wid=""
  [ "$code" = 0 ] || fail "exit code $code"
}
