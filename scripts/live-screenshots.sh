#!/usr/bin/env bash
# Makes the README's pictures of the live matte: the editor on the sample with its strokes, the
# live matte on (Ctrl+L), in edit mode, shown as an overlay (docs/images/live-overlay.png) and on
# a checkerboard (docs/images/live-checkerboard.png). Runs the editor under its own Xvfb with a
# private settings folder (the view settings file chooses the view); xdotool presses the keys.
# Needs a build (bash scripts/build.sh), xvfb-run, xdotool and ImageMagick's import.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
editor=${BUILD_DIR:-$root/build}/gui/quillane
out=${1:-$root/docs/images}
[ -x "$editor" ] || { echo "no $editor: build first (bash scripts/build.sh)" >&2; exit 1; }
if [ -z "${LIVE_SCREENSHOTS_INNER:-}" ]; then
  LIVE_SCREENSHOTS_INNER=1 exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" "$@"
fi
tmp=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$tmp"' EXIT
export APPDATA=$tmp/appdata XDG_CONFIG_HOME=$tmp/xdg XDG_STATE_HOME=$tmp/state HOME=$tmp
settings=$APPDATA/Tessaly/quillane
mkdir -p "$settings"
# A window at (10, 10) of 760 x 536: the whole toolbar, the 680 x 440 photograph, the status bar.
printf '\x0a\0\0\0\x0a\0\0\0\xf8\x02\0\0\x18\x02\0\0' >"$settings/quillane-1.0"

for view in overlay checkerboard; do
  printf 'show %s\n' "$view" >"$settings/quillane-view-1.0"  # the default overlay colour
  QUILLANE_PRINT_LAYOUT=1 "$editor" "$root/samples/lemur.png" "$root/samples/lemur_strokes.png" \
    >"$tmp/out.txt" 2>"$tmp/err.txt" &
  pid=$!
  for _ in $(seq 1 150); do grep -q "^layout done" "$tmp/out.txt" && break; sleep 0.2; done
  win=$(xdotool search --sync --onlyvisible --name '^Tessaly$' | head -n 1)
  # The keys go to the window under the pointer: the status bar, where no brush cursor is drawn.
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove $((X + WIDTH / 3)) $((Y + HEIGHT - 8)) key ctrl+l
  for _ in $(seq 1 600); do grep -q "^live done" "$tmp/out.txt" && break; sleep 0.2; done
  grep -q "^live done" "$tmp/out.txt" || { cat "$tmp/err.txt"; echo "no live matte" >&2; exit 1; }
  sleep 0.5
  import -window "$win" "$out/live-$view.png"
  echo "wrote $out/live-$view.png ($(grep '^live ' "$tmp/out.txt" | tr '\n' ' '))"
  kill $pid && wait $pid 2>/dev/null || true
  pid=
done
