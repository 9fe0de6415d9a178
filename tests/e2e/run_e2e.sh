#!/usr/bin/env bash
# End-to-end: drives the real editor as a user would, with xdotool on an X server. Starts it on
# the sample photograph, paints round white strokes on the subject and black strokes on the
# background with a larger brush, saves the layer (artifacts/strokes.png is the sample's
# lemur_strokes.png), calculates and presses Cancel beside the progress bar, calculates again,
# accepts the options, waits for view mode, saves the result with Ctrl+S and closes the window.
# Then checks the saved PNG and that the recovery file of the strokes is gone. Screenshots of
# every step stay in the artifacts folder.
#
# usage: run_e2e.sh QUILLANE X_CLOSE_WINDOW CHECK_MATTE SAMPLES_DIR ARTIFACTS_DIR
set -uo pipefail
quillane=$1 x_close=$2 check=$3 samples=$4 artifacts=$5

if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  echo "SKIP: no X display for the end-to-end test (run under xvfb-run)"
  exit 77
fi

rm -rf "$artifacts"
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'kill $pid 2>/dev/null; rm -rf "$work"' EXIT
export APPDATA=$work/appdata XDG_CONFIG_HOME=$work/xdg XDG_STATE_HOME=$work/state HOME=$work
unset ICON_DIR

# A window large enough to show the whole 680 x 440 photograph.
mkdir -p "$APPDATA/Tessaly/quillane"
printf '\x0a\x00\x00\x00\x0a\x00\x00\x00\xe8\x03\x00\x00\xf8\x02\x00\x00' \
  > "$APPDATA/Tessaly/quillane/quillane-1.0"

step=0
shot() {  # name
  step=$((step + 1))
  import -window root "$artifacts/$(printf '%02d' $step)-$1.png" 2>/dev/null
}
fail() {
  echo "FAIL: $*"
  shot failure
  echo "--- editor output ---"; cat -v "$work/out.txt"; cat "$work/err.txt"
  exit 1
}
wait_for() {  # seconds, description, command...
  local seconds=$1 what=$2; shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "timed out after ${seconds}s waiting for $what"
    sleep 0.2
  done
}

QUILLANE_PRINT_LAYOUT=1 "$quillane" "$samples/lemur.png" >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
wait_for 30 "the editor's layout" grep -q "^layout done" "$work/out.txt"
read -r cx cy < <(awk '$2 == "canvas" {print $4, $5}' "$work/out.txt")
item_centre() { awk -v i="$1" '$2 == "item" && $3 == i {print $4 + int($6 / 2), $5 + int($7 / 2)}' "$work/out.txt"; }
echo "canvas at $cx,$cy"
shot started

# Paint a smooth stroke through points in image coordinates (the view is at 100 %): a
# Catmull-Rom curve through them, followed by the pointer in small steps, as a hand does.
paint() {
  local moves
  moves=$(printf '%s\n' "$@" | tr ',' ' ' | awk -v cx="$cx" -v cy="$cy" '
    { x[NR] = $1; y[NR] = $2 }
    END {
      n = NR; x[0] = x[1]; y[0] = y[1]; x[n + 1] = x[n]; y[n + 1] = y[n]
      printf "mousemove %d %d mousedown 1", cx + x[1], cy + y[1]
      for (i = 1; i < n; i++) {
        d = sqrt((x[i + 1] - x[i]) ^ 2 + (y[i + 1] - y[i]) ^ 2); steps = int(d / 4) + 1
        for (k = 1; k <= steps; k++) {
          t = k / steps; t2 = t * t; t3 = t2 * t
          px = 0.5 * (2 * x[i] + (x[i + 1] - x[i - 1]) * t + (2 * x[i - 1] - 5 * x[i] + 4 * x[i + 1] - x[i + 2]) * t2 + (3 * x[i] - x[i - 1] - 3 * x[i + 1] + x[i + 2]) * t3)
          py = 0.5 * (2 * y[i] + (y[i + 1] - y[i - 1]) * t + (2 * y[i - 1] - 5 * y[i] + 4 * y[i + 1] - y[i + 2]) * t2 + (3 * y[i] - y[i - 1] - 3 * y[i + 1] + y[i + 2]) * t3)
          printf " mousemove %d %d sleep 0.004", cx + px, cy + py
        }
      }
      printf " mouseup 1\n"
    }')
  # shellcheck disable=SC2086
  xdotool $moves
  sleep 0.1
}

# A brush of 14 pixels, typed into its spin button.
read -r sx sy < <(item_centre 13)
xdotool mousemove "$sx" "$sy" click --repeat 3 1 key ctrl+a type 14
xdotool key Return
sleep 0.2

# White (foreground) is the brush at start: down the middle, across the chest, round the head
# and the shoulders, the flanks and the post the lemur sits on.
paint 335,105 328,170 338,240 350,320 345,420
paint 215,300 280,280 345,275 410,282 470,305
paint 275,140 320,110 365,105 405,130
paint 215,235 240,175 295,135
paint 478,245 452,178 405,135
paint 200,340 225,385 265,410
paint 485,345 465,390 425,415
paint 250,432 345,428 440,432
read -r bx by < <(item_centre 6)
xdotool mousemove "$bx" "$by" click 1
sleep 0.2
# Black (background) round the fur, a brush width or two away from it, and further out.
paint 150,434 118,360 122,290 140,215 172,155 215,98 262,58 305,32 345,24
paint 345,24 390,32 432,58 470,100 505,155 540,215 556,290 563,360 552,434
paint 40,40 35,200 45,420
paint 640,40 645,200 635,420
paint 70,14 200,12
paint 480,12 610,14
xdotool mousemove $((cx + 5)) $((cy + 5))
sleep 0.3
shot painted

# Ctrl+S in edit mode saves the stroke layer.
save_as() {  # path
  xdotool mousemove $((cx + 300)) $((cy + 200))
  xdotool key ctrl+s
  local win
  win=$(xdotool search --sync --onlyvisible --name "^Save File$" | head -n 1)
  [ -n "$win" ] || fail "no Save File dialog"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + 10))
  sleep 0.5
  shot save-dialog
  xdotool type --delay 15 "$1"
  xdotool key Return
  wait_for 20 "$1" test -s "$1"
}
save_as "$work/strokes.png"
shot layer-saved

bells() { tr -cd '\a' <"$work/out.txt" | wc -c; }
two_bells() { [ "$(bells)" -ge 2 ]; }
calculate() {  # screenshot name
  read -r kx ky < <(item_centre 4)
  xdotool mousemove "$kx" "$ky" click 1
  local win
  win=$(xdotool search --sync --onlyvisible --name "^options for calculation$" | head -n 1)
  [ -n "$win" ] || fail "no options dialog"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + 30))
  sleep 0.5
  shot "$1"
  xdotool key Return
}

# The first calculation is cancelled with the button beside the progress bar.
calculate options
wait_for 20 "the Cancel button" grep -q "^layout cancel" "$work/out.txt"
sleep 0.5
shot calculating
[ "$(bells)" -eq 0 ] || fail "the calculation ended before it could be cancelled"
read -r qx qy < <(awk '$2 == "cancel" {print $4 + int($6 / 2), $5 + int($7 / 2)}' "$work/out.txt" | tail -n 1)
xdotool mousemove "$qx" "$qy" click 1
sleep 0.5
shot cancelled
ls "$XDG_STATE_HOME"/quillane/recovery/*.png >/dev/null 2>&1 ||
  fail "no recovery file of the strokes was written before the calculation"

# The second one runs to the end. The engine rings the bell when a calculation ends, the
# cancelled one too; delivery follows on the main loop.
calculate options-again
wait_for 600 "the calculation" two_bells
sleep 2
shot view-mode

save_as "$work/result.png"
cp "$work/strokes.png" "$work/result.png" "$artifacts/" 2>/dev/null

"$x_close" Tessaly || fail "could not ask the window to close"
for _ in $(seq 1 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -0 $pid 2>/dev/null && fail "the editor did not quit"
wait $pid
rc=$?
[ $rc -eq 0 ] || fail "the editor exited with status $rc"
[ -s "$APPDATA/Tessaly/quillane/quillane-1.0" ] || fail "no geometry file written"
! ls "$XDG_STATE_HOME"/quillane/recovery/*.png >/dev/null 2>&1 ||
  fail "the recovery file is still there after a normal close"

"$check" "$work/result.png" "$work/strokes.png" 680 440 || fail "the saved matte is wrong"
echo "PASS: end-to-end editor session"
