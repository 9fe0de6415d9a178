#!/usr/bin/env bash
# End-to-end: drives the real editor as a user would, with xdotool on an X server. On the sample
# photograph it paints round white strokes on the subject and black ones on the background with
# a larger brush, saves the layer, calculates and presses Cancel beside the progress bar,
# calculates again, saves the result with Ctrl+S and checks it; turns the live matte on (Ctrl+L)
# in edit mode, paints a background stroke, waits for its full-resolution live matte, saves it in
# view mode and checks it; then paints once more, with the live matte still on, starts a
# calculation and quits with Ctrl+Q meanwhile: the editor asks about the unsaved strokes and
# ends cleanly, without its recovery file. Screenshots of every step stay in the artifacts.
#
# usage: run_e2e.sh QUILLANE CHECK_MATTE SAMPLES_DIR ARTIFACTS_DIR
set -uo pipefail
quillane=$1 check=$2 samples=$3 artifacts=$4
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  echo "SKIP: no X display for the end-to-end test (run under xvfb-run)" && exit 77
fi
rm -rf "$artifacts" && mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$work"' EXIT
export APPDATA=$work/appdata XDG_CONFIG_HOME=$work/xdg XDG_STATE_HOME=$work/state HOME=$work
unset ICON_DIR
# A window at (10, 10), large enough to show the whole 680 x 440 photograph.
mkdir -p "$APPDATA/Tessaly/quillane"
printf '\x0a\0\0\0\x0a\0\0\0\xe8\x03\0\0\xf8\x02\0\0' >"$APPDATA/Tessaly/quillane/quillane-1.0"

step=0
shot() { step=$((step + 1)); import -window root "$artifacts/$(printf %02d $step)-$1.png" 2>/dev/null; }
fail() {
  echo "FAIL: $*" && shot failure
  echo "--- editor output ---" && cat -v "$work/out.txt" "$work/err.txt" && exit 1
}
wait_for() {  # seconds, description, command...
  local seconds=$1 what=$2; shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "timed out after ${seconds}s waiting for $what"
    sleep 0.2
  done
}
centre() {  # layout name [index]: the centre of the widget's last reported box
  awk -v n="$1" -v i="${2:-0}" '$2 == n && $3 == i {x = $4 + int($6 / 2); y = $5 + int($7 / 2)}
    END {print x, y}' "$work/out.txt"
}
click_at() { read -r x y < <(centre "$@") && xdotool mousemove "$x" "$y" click 1 sleep 0.2; }
in_dialog() {  # title, screenshot name, xdotool commands... (sent with the pointer on the dialog)
  local title=$1 name=$2 win; shift 2
  win=$(timeout 30 xdotool search --sync --onlyvisible --name "^$title\$" | head -n 1)
  [ -n "$win" ] || fail "no dialog \"$title\""
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + 10)) sleep 0.5
  shot "$name" && xdotool "$@"
}
bells() { tr -cd '\a' <"$work/out.txt" | wc -c; }
rang() { [ "$(bells)" -ge "$1" ]; }
cancel_shown() { [ "$(grep -o "layout cancel" "$work/out.txt" | wc -l)" -ge "$1" ]; }
live_done() { [ "$(grep -c "^live done" "$work/out.txt")" -ge "$1" ]; }

QUILLANE_PRINT_LAYOUT=1 "$quillane" "$samples/lemur.png" >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
wait_for 30 "the editor's layout" grep -q "^layout done" "$work/out.txt"
# Started once more at once, on a heap with huge pages (unless the tests run under a limit).
if [ "$(ulimit -v)" = unlimited ] && [ "$(ulimit -d)" = unlimited ] &&
  [[ "${GLIBC_TUNABLES:-}" != *glibc.malloc.hugetlb* ]]; then
  tr '\0' '\n' <"/proc/$pid/environ" | grep -qx "QUILLANE_HEAP_TUNED=1" ||
    fail "the editor runs on an untuned heap"
fi
read -r cx cy < <(awk '$2 == "canvas" {print $4, $5}' "$work/out.txt")
shot started

# A stroke through points in image coordinates (the view is at 100 %), followed by the pointer
# in steps of about 4 pixels, as a hand does.
paint() {
  # shellcheck disable=SC2046
  xdotool $(printf '%s\n' "$@" | tr ',' ' ' | awk -v cx="$cx" -v cy="$cy" '
    NR == 1 { printf "mousemove %d %d mousedown 1", cx + $1, cy + $2 }
    NR > 1 { n = int(sqrt(($1 - x) ^ 2 + ($2 - y) ^ 2) / 4) + 1
      for (k = 1; k <= n; k++) printf " mousemove %d %d sleep 0.004", cx + x + ($1 - x) * k / n, cy + y + ($2 - y) * k / n }
    { x = $1; y = $2 }
    END { print " mouseup 1" }')
  sleep 0.1
}
save_as() {  # path: Ctrl+S, the name typed into the Save dialog
  xdotool mousemove $((cx + 300)) $((cy + 200)) key ctrl+s
  # The whole suggested name selected first: typed too early, the path would be added to it.
  in_dialog "Save File" save-dialog key ctrl+a type --delay 15 "$1"
  xdotool key Return
  wait_for 20 "$1" test -s "$1"
}
calculate() {  # screenshot name: Calculate, the options accepted with Enter
  click_at calculate
  in_dialog "options for calculation" "$1" key Return
}

# A brush of 14 pixels, typed into its spin button.
read -r sx sy < <(centre brush-size)
xdotool mousemove "$sx" "$sy" click --repeat 3 1 key ctrl+a type 14 key Return sleep 0.2
# White (the brush at start) down the middle, across the chest and round the head; black round
# the fur, a brush width or two away, and further out.
paint 335,105 328,170 338,240 350,320 345,420
paint 215,300 280,280 345,275 410,282 470,305
paint 215,235 240,175 295,135 365,105 405,130 452,178 478,245
paint 200,340 225,385 265,410 345,428 425,415 465,390 485,345
click_at bg
paint 150,434 118,360 122,290 140,215 172,155 215,98 262,58 305,32 345,24 390,32 432,58 470,100 \
  505,155 540,215 556,290 563,360 552,434
paint 40,40 35,200 45,420
paint 640,40 645,200 635,420
paint 70,14 345,8 610,14
shot painted
save_as "$work/strokes.png"

# The first calculation is cancelled with the button beside the progress bar.
calculate options
wait_for 20 "the Cancel button" cancel_shown 1 && sleep 0.5 && shot calculating
[ "$(bells)" -eq 0 ] || fail "the calculation ended before it could be cancelled"
click_at cancel && shot cancelled
ls "$XDG_STATE_HOME"/quillane/recovery/*.png >/dev/null 2>&1 ||
  fail "no recovery file of the strokes was written before the calculation"
# The second one runs to the end. The engine rings the bell when a calculation ends, the
# cancelled one too; delivery follows on the main loop.
calculate options-again
wait_for 600 "the calculation" rang 2 && sleep 2 && shot view-mode
save_as "$work/result.png"
cp "$work/strokes.png" "$work/result.png" "$artifacts/" 2>/dev/null
"$check" "$work/result.png" "$work/strokes.png" 680 440 || fail "the saved matte is wrong"

# The live matte: on in edit mode, where the canvas shows the matte as an overlay; a background
# stroke more recalculates it, and its full-resolution matte is the image's matte, saved in view
# mode.
click_at mode
xdotool mousemove $((cx + 300)) $((cy + 200)) key ctrl+l
wait_for 300 "the live matte" live_done 1 && shot live-on
paint 20,100 25,250 20,400
wait_for 300 "the live matte of the new stroke" live_done 2 && sleep 0.5 && shot live-stroke
grep "^live " "$work/out.txt"
click_at mode && sleep 0.5 && shot live-view-mode
save_as "$work/live.png"
cp "$work/live.png" "$artifacts/" 2>/dev/null
"$check" "$work/live.png" "$work/strokes.png" 680 440 || fail "the saved live matte is wrong"

# Back in edit mode, one more stroke, never saved, and a calculation that quitting ends; the
# live matte's update makes way for it.
click_at mode
paint 600,200 600,300
calculate options-last
wait_for 20 "the progress bar" cancel_shown 3
[ "$(bells)" -eq 2 ] || fail "the calculation ended before the editor could be closed"
xdotool mousemove $((cx + 300)) $((cy + 200)) key ctrl+q
in_dialog "Unsaved strokes" question key alt+w
for _ in $(seq 1 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "the editor did not quit"
wait $pid || fail "the editor exited with status $?"
[ -s "$APPDATA/Tessaly/quillane/quillane-1.0" ] || fail "no geometry file written"
! ls "$XDG_STATE_HOME"/quillane/recovery/*.png >/dev/null 2>&1 ||
  fail "the recovery file is still there after a normal close"
echo "PASS: end-to-end editor session"
