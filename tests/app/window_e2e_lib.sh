# shellcheck shell=bash
# Helpers of the window tests on a virtual display (sourced, not run).
#
# The caller sets $program, $shots (screenshot folder) and $work (scratch folder, removed at
# exit), then uses start_window, which sets $pid, $wid, $name and $log.
#
# Every step waits for its effect, never for a time: a click is done when the window shows its
# result, and positions are read from screenshots once the layout holds still (the window's
# automatic height moves the panels a few frames after their content changed). A frame of the
# sanitizer build on a loaded machine can take seconds, so each wait is bounded generously and
# its failure says what it awaited.
#
# Buttons are found in screenshots, not by position: along one pixel column through the left
# edge of a panel's buttons, a button is a run of at least 12 rows of the style's blue
# (disabled buttons are dimmer and do not count). Along one row near a button's top, its width
# tells which label it has: the built-in font is 7 px a character and a sized-to-label button
# is 8 px wider than its label.

# Seconds a step of the window may take to show its effect.
readonly patience=60

# Leaves with 77 (skipped) when a tool is missing; else runs the calling script again under a
# virtual display of 1600 x 1000.
on_virtual_display() {
  if [ "${1:-}" = --on-display ]; then return; fi
  for tool in xvfb-run xdotool import compare convert identify; do
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

# until_true SECONDS COMMAND...: runs COMMAND until it succeeds; false after SECONDS.
until_true() {
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# shot FILE: the window's picture. Under load the X server can refuse it for a moment
# ("Resource temporarily unavailable"), so it is asked again.
shot() {
  local error end=$((SECONDS + patience))
  until error=$(import -window "$wid" "$1" 2>&1); do
    [ "$SECONDS" -lt "$end" ] || fail "no screenshot of the window within $patience s: $error"
    sleep 0.2
  done
}
shot_now() { shot "$work/now.png"; }

# steady WHAT COMMAND...: runs COMMAND (which takes its own screenshot and prints what it
# reads there) until two runs 0.5 s apart print the same non-empty text, left in $reading.
reading=""
steady() {
  local what=$1 before="" now end=$((SECONDS + patience))
  shift
  while :; do
    now=$("$@") || now=""
    if [ -n "$now" ] && [ "$now" = "$before" ]; then
      reading=$now
      return
    fi
    [ "$SECONDS" -lt "$end" ] || fail "$what did not hold still for $patience s (last read: ${now:-nothing})"
    before=$now
    sleep 0.5
  done
}

# press X Y: a left click at X,Y. The mouse must stay there until the click's effect is seen:
# a button acts in the frame that sees it released over it.
press() { xdotool mousemove --window "$wid" "$1" "$2" mousedown 1 mouseup 1; }

# click X Y WHAT CHECK...: a left click, done once CHECK succeeds.
click() {
  local x=$1 y=$2 what=$3
  shift 3
  press "$x" "$y"
  until_true "$patience" "$@" || fail "clicked at $x,$y, then waited $patience s for $what"
}

# ctrl_click X Y CHECK...: a left click with Ctrl held until CHECK succeeds (released before
# the window's next frame, the click would be a plain one); false when CHECK still fails after
# $patience s.
ctrl_click() {
  local x=$1 y=$2 seen=0
  shift 2
  xdotool mousemove --window "$wid" "$x" "$y" keydown ctrl mousedown 1 mouseup 1
  until_true "$patience" "$@" || seen=$?
  xdotool keyup ctrl
  return "$seen"
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

# column_runs X: "TOP BOTTOM" of the buttons crossing column X of the last screenshot.
column_runs() {
  convert "$work/now.png" -crop "1x4000+$1+0" +repage txt:- | blue_runs 2 12
}
# left_layout: the window's size and the left panel's buttons in a new screenshot.
left_layout() {
  shot_now
  identify -format '%wx%h\n' "$work/now.png"
  column_runs 19
}
# settle: waits until the window's size and the left panel's buttons hold still; the last
# screenshot is then the one to read positions from.
settle() { steady "the left panel" left_layout; }

# buttons: the centre rows of the left panel's buttons in the last screenshot, top to bottom.
buttons() { column_runs 19 | awk '{ print int(($1 + $2 + 1) / 2) }'; }
button_count_at_least() {
  shot_now
  [ "$(buttons | wc -l)" -ge "$1" ]
}
nth_button() { buttons | sed -n "$1p"; }
lowest_button() { buttons | tail -n 1; }

# row_runs Y X0 X1: "FIRST LAST" of the buttons along row Y between X0 and X1 of the last
# screenshot.
row_runs() {
  convert "$work/now.png" -crop "$(($3 - $2))x1+$2+$1" +repage txt:- | blue_runs 1 8 |
    awk -v x0="$2" '{ print $1 + x0, $2 + x0 }'
}

# label_button LABEL: the centre row of the enabled left-panel button sized to LABEL in the
# last screenshot.
label_button() {
  local want=$((7 * ${#1} + 8)) rows top bottom first last
  rows=$(column_runs 19)
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
label_button_shown() {
  shot_now
  label_button "$1" >/dev/null
}

# equal_row: the left-panel row of at least two enabled buttons of one width above 100 px
# (the load buttons, the export buttons) in the last screenshot; prints "Y X" with X the
# centre of the second.
equal_row() {
  local top bottom rows
  rows=$(column_runs 19)
  while read -r top bottom; do
    row_runs $((top + 2)) 0 510 | awk -v y=$(((top + bottom + 1) / 2)) '
      { n++; w[n] = $2 - $1; if (n == 2) x = int(($1 + $2) / 2) }
      END { if (n >= 2 && w[1] > 100 && w[1] - w[2] <= 2 && w[2] - w[1] <= 2) { print y, x; exit 0 }
            exit 1 }' && return
  done <<<"$rows"
  return 1
}
equal_row_shown() {
  shot_now
  equal_row >/dev/null
}

# left_panel_at_end: in a new screenshot, the left panel has no scroll bar or its grab
# reaches the track's end (the track is darker than the panel, the grab lighter).
readonly scrollbar_x=500
left_panel_at_end() {
  shot_now
  convert "$work/now.png" -crop "1x4000+$scrollbar_x+0" +repage txt:- |
    awk -F'[ :,()]+' 'NR > 1 { v[$2] = $3 "," $4 "," $5; if ($3 "," $4 "," $5 == "60,60,69") edge = $2 }
                      END { exit !(edge > 8 && v[edge - 4] != "11,11,11") }'
}
# scroll_step: the left panel at its end, or 10 more wheel steps down over it.
scroll_step() {
  left_panel_at_end && return
  xdotool mousemove --window "$wid" 250 400 click --repeat 10 --delay 5 5
  return 1
}
# scroll_left_panel_to_end: the left panel's end (its action area and stage lines) in view
# and held still.
scroll_left_panel_to_end() {
  until_true "$patience" scroll_step || fail "the left panel did not scroll to its end"
  settle
}

# The left panel's first line differs from the startup screen's.
left_heading_changed() {
  shot_now
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
  wid=$(timeout "$patience" xdotool search --sync --name '^Haldmoor/BRINDLEWICK_E57_V1_1 beta$' | head -n 1) ||
    fail "the window did not appear within $patience s"
  until_true "$patience" button_count_at_least 1 || fail "the startup screen was not drawn"
  settle
  cp "$work/now.png" "$work/startup.png"
  cp "$work/startup.png" "$shots/$name-startup.png"
}

# load_e57: opens "E57 header / XML metadata preview", reads the header, closes the panel again
# and, once the load buttons are enabled, clicks "Exact preview" (the middle one of their row);
# then waits for the build and the tile-selection screen.
load_e57() {
  local header y x
  settle
  header=$(nth_button 1)
  click 150 "$header" "\"Read E57 header + metadata\"" label_button_shown "Read E57 header + metadata"
  settle
  y=$(label_button "Read E57 header + metadata") || fail "no \"Read E57 header + metadata\""
  click 60 "$y" "the header read (\"Copy analysis to clipboard\")" \
    label_button_shown "Copy analysis to clipboard"
  shot "$shots/$name-header.png"
  settle
  click 150 "$header" "the load buttons enabled" equal_row_shown
  settle
  read -r y x < <(equal_row) || fail "the load buttons moved away"
  press "$x" "$y"
  wait_for_tile_selection
}

# wait_for_tile_selection: the effect of a load button, the build's end and the new screen.
wait_for_tile_selection() {
  until_true 300 built || fail "the preview build did not finish within 300 s"
  until_true "$patience" left_heading_changed || fail "the tile-selection screen did not appear"
  settle
  cp "$work/now.png" "$shots/$name-tile-selection.png"
}

# wait_for_exit: the effect of "Close", the program gone with exit code 0.
wait_for_exit() {
  until_true "$patience" ended || fail "the program did not end within $patience s"
  local code=0
  wait "$pid" || code=$?
  pid="" wid=""
  [ "$code" = 0 ] || fail "exit code $code"
}
