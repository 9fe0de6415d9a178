#!/usr/bin/env bash
# End-to-end: drives the real editor as a user would, with xdotool on an X server. Starts it on
# the sample photograph, paints white strokes on the subject and black strokes on the
# background, saves the layer, calculates, accepts the options, waits for view mode, saves the
# result with Ctrl+S and closes the window. Then checks the saved PNG. Screenshots of every
# step stay in the artifacts folder.
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
export APPDATA=$work/appdata XDG_CONFIG_HOME=$work/xdg HOME=$work
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

# Paint a polyline in image coordinates (the view is at 100 %).
paint() {
  local points=("$@") i
  set -- ${points[0]//,/ }
  xdotool mousemove $((cx + $1)) $((cy + $2)) mousedown 1
  local px=$1 py=$2
  for ((i = 1; i < ${#points[@]}; i++)); do
    set -- ${points[$i]//,/ }
    local n
    for n in 1 2 3 4 5 6 7 8 9 10; do
      xdotool mousemove $((cx + px + ($1 - px) * n / 10)) $((cy + py + ($2 - py) * n / 10))
      sleep 0.01
    done
    px=$1 py=$2
  done
  xdotool mouseup 1
  sleep 0.1
}

# White (foreground) is the brush at start.
paint 340,120 300,200 350,300 420,380 380,420
paint 230,250 330,240 470,260
paint 260,400 330,415 450,405
paint 400,150 440,200
read -r bx by < <(item_centre 6)
xdotool mousemove "$bx" "$by" click 1
sleep 0.2
paint 20,20 660,20
paint 40,60 60,250 50,420
paint 100,150 90,380
paint 640,60 600,250 640,420
paint 580,100 590,400
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

read -r kx ky < <(item_centre 4)
xdotool mousemove "$kx" "$ky" click 1
win=$(xdotool search --sync --onlyvisible --name "^options for calculation$" | head -n 1)
[ -n "$win" ] || fail "no options dialog"
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove $((X + WIDTH / 2)) $((Y + 30))
sleep 0.5
shot options
xdotool key Return
sleep 1
shot calculating

# The engine rings the bell when the matte is ready; delivery follows on the main loop.
wait_for 600 "the calculation" grep -q $'\a' "$work/out.txt"
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

"$check" "$work/result.png" "$work/strokes.png" 680 440 || fail "the saved matte is wrong"
echo "PASS: end-to-end editor session"
